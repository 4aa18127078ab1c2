#!/usr/bin/env python3
"""Writes data/spectra/demo_gamma.spe: a simulated HPGe spectrum of a mixed calibration source.

4096 channels, E(keV) = 0.10 + 0.40 * channel, FWHM(keV) = sqrt(0.80 + 0.0018 * E), Poisson counts.
Lines (keV, counts in the peak): Am-241 59.54, Ba-133 356.01, Cs-137 661.66, Co-60 1173.23 and
1332.49, K-40 1460.82; each with its Compton continuum, on a falling room background.
"""
import math
import random

random.seed(20261206)
CHANNELS = 4096
LINES = [(59.54, 18000), (356.01, 9000), (661.66, 40000), (1173.23, 21000), (1332.49, 19000),
         (1460.82, 2500)]
ME = 511.0


def channel(e):
    return (e - 0.10) / 0.40


def fwhm_ch(e):
    return math.sqrt(0.80 + 0.0018 * e) / 0.40


def poisson(mean):
    if mean < 30:
        limit, k, p = math.exp(-mean), 0, 1.0
        while True:
            p *= random.random()
            if p <= limit:
                return k
            k += 1
    return max(0, int(round(random.gauss(mean, math.sqrt(mean)))))


mean = [0.0] * (CHANNELS + 1)
for ch in range(1, CHANNELS + 1):
    e = 0.10 + 0.40 * ch
    mean[ch] = 40.0 * math.exp(-e / 350.0) + 6.0
for e0, area in LINES:
    c0, w = channel(e0), fwhm_ch(e0)
    sigma = w / 2.3548
    edge = e0 * (1 - 1 / (1 + 2 * e0 / ME))
    for ch in range(1, CHANNELS + 1):
        x = ch - c0
        mean[ch] += area / (sigma * math.sqrt(2 * math.pi)) * math.exp(-0.5 * (x / sigma) ** 2)
        e = 0.10 + 0.40 * ch
        if e < edge:  # flat Compton continuum rising slightly towards its edge
            mean[ch] += area * 0.0012 * (1.0 + 0.6 * e / edge)
        elif e < e0:  # small-angle scattering between the edge and the peak
            mean[ch] += area * 0.0002
counts = [0] + [poisson(mean[ch]) for ch in range(1, CHANNELS + 1)]

with open("data/spectra/demo_gamma.spe", "w") as f:
    f.write("* ORVANT demo spectrum: simulated HPGe, mixed source Am-241 Ba-133 Cs-137 Co-60 K-40\n")
    f.write("* 4096 channels, free-field counts from channel 1; E(keV) = 0.10 + 0.40 * channel\n")
    for i in range(1, CHANNELS + 1, 8):
        f.write(" ".join("%7d" % counts[j] for j in range(i, min(i + 8, CHANNELS + 1))) + "\n")
