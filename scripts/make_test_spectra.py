#!/usr/bin/env python3
"""Writes the five built-in test spectra data/test_spectra/{raa,negr,front,euu,bpeak}.spc.

Each spectrum is a detector response built from physics (full-energy peaks with a low-energy tail and
a small step, Klein-Nishina Compton continua with smeared edges and multiple-scatter fill, backscatter,
escape and annihilation peaks, room background) and then given Poisson counting noise.

The noise is drawn once per channel as a fixed uniform number u, and the count of a channel is the
Poisson quantile of u at the channel's mean, so the count never falls when the mean grows. That lets
the script tune two knobs, the source strength and the level of the background component where the
spectrum is lowest, until the largest and smallest counts are exactly the ones the program documents,
without touching any single channel by hand.

Beside each NAME.spc goes NAME.truth: every generated peak (centre, area with its tail, FWHM, energy,
Gaussian part, background under it), for checking what the program fits against what was put in.

Deterministic (fixed seeds, standard library only).
Usage: python3 scripts/make_test_spectra.py   (from anywhere)
"""
import math
import os
import random
import statistics

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "data", "test_spectra")
NORMAL = statistics.NormalDist()
ME = 510.999  # electron rest energy, keV
SQRT2 = math.sqrt(2.0)


class Detector:
    """Channel-energy relation and resolution: E = e0 + gain * channel, FWHM(keV) = sqrt(a + b E)."""

    def __init__(self, channels, e0, gain, fwhm_a, fwhm_b):
        self.n, self.e0, self.gain, self.a, self.b = channels, e0, gain, fwhm_a, fwhm_b

    def energy(self, ch):
        return self.e0 + self.gain * ch

    def channel(self, e):
        return (e - self.e0) / self.gain

    def sigma_ch(self, e):
        return math.sqrt(self.a + self.b * max(e, 0.0)) / self.gain / 2.35482

    def zero(self):
        return [0.0] * (self.n + 1)


class TruePeak:
    """A peak as generated, before the spectrum is scaled: Gaussian centre and FWHM in channels, and
    the counts the Gaussian and the tail put into each channel (the step is not part of the peak)."""

    def __init__(self, kind, e, c, fwhm):
        self.kind, self.e, self.c, self.fwhm = kind, e, c, fwhm
        self.gauss, self.tail = {}, {}


PEAKS = []  # every add_peak of the spectrum being built, in order


def add_peak(m, det, e, area, tail=0.0, tail_len=1.0, step=0.0, extra_sigma=0.0, kind="full"):
    """Full-energy peak in channels: a Gaussian integrated over each channel, a low-energy exponential
    tail (incomplete charge collection) of relative area `tail` and length `tail_len` sigmas, and a step
    of relative height `step` (small-angle scattering in front of the detector). Recorded in PEAKS."""
    c = det.channel(e)
    s = math.hypot(det.sigma_ch(e), extra_sigma)
    truth = TruePeak(kind, e, c, 2.35482 * s)
    PEAKS.append(truth)
    beta = tail_len * s
    lo = max(1, int(c - 12 * s - 12 * beta))
    hi = min(det.n, int(c + 8 * s) + 1)
    gauss_area = area * (1.0 - tail)
    height = area / (2.5066 * s)
    for ch in range(lo, hi + 1):
        x = ch - c
        g = 0.5 * gauss_area * (math.erf((x + 0.5) / (SQRT2 * s)) - math.erf((x - 0.5) / (SQRT2 * s)))
        m[ch] += g
        truth.gauss[ch] = g
        if tail > 0:
            t = area * tail / (2 * beta) * math.exp(x / beta + 0.5 * (s / beta) ** 2) * \
                math.erfc((x / s + s / beta) / SQRT2)
            m[ch] += t
            truth.tail[ch] = t
    if step > 0:
        for ch in range(1, hi + 1):
            m[ch] += step * height * 0.5 * math.erfc((ch - c) / (SQRT2 * s))


def add_compton(m, det, e0, counts, edge_blur=2.0, fill=0.3):
    """Compton continuum of a line with `counts` events in total: the Klein-Nishina distribution of the
    energy given to the electron, its edge smeared, plus multiple scattering filling the valley between
    the edge and the peak."""
    a = e0 / ME
    tc = e0 * 2 * a / (1 + 2 * a)

    def kn(t):
        s = min(t, tc) / e0
        return 2 + s * s / (a * a * (1 - s) ** 2) + s / (1 - s) * (s - 2 / a)

    # the edge is smeared by the resolution and by the bound electrons' motion and the source size
    se = math.hypot(edge_blur * det.sigma_ch(tc) * det.gain, 0.015 * tc + 1.0)
    sp = det.sigma_ch(e0) * det.gain
    shape = [0.0] * (det.n + 1)
    for ch in range(1, det.n + 1):
        t = det.energy(ch)
        if t <= 0 or t > e0 + 6 * sp:
            continue
        single = kn(t) * 0.5 * math.erfc((t - tc) / (SQRT2 * se))
        rise = 1 / (1 + math.exp(-(t - 0.75 * tc) / (0.08 * tc)))
        multi = kn(tc) * fill * rise * 0.5 * math.erfc((t - e0 + 2 * sp) / (SQRT2 * sp))
        shape[ch] = single + multi
    total = sum(shape)
    if total > 0:
        for ch in range(1, det.n + 1):
            m[ch] += counts * shape[ch] / total


def add_bump(m, det, e, counts, fwhm_kev):
    """A broad Gaussian hump (backscatter from the shield, Doppler-broadened annihilation)."""
    c, s = det.channel(e), fwhm_kev / det.gain / 2.35482
    for ch in range(max(1, int(c - 6 * s)), min(det.n, int(c + 6 * s) + 1) + 1):
        m[ch] += counts / (2.5066 * s) * math.exp(-0.5 * ((ch - c) / s) ** 2)


def backscatter_energy(e):
    return e / (1 + 2 * e / ME)


def poisson_quantile(u, z, mean):
    """Smallest k with P(K <= k) >= u for K Poisson(mean); above 30 counts the normal quantile z of u
    with continuity correction."""
    if mean <= 0:
        return 0
    if mean < 30:
        p = math.exp(-mean)
        cdf, k = p, 0
        while cdf < u and k < 200:
            k += 1
            p *= mean / k
            cdf += p
        return k
    return max(0, int(math.floor(mean + z * math.sqrt(mean) + 0.5)))


def mean_counts(signal, background, k, b, first=1):
    """Expected count of each channel, as noisy() draws around it."""
    return [0.0] + [k * signal[i] + b * background[i] if i >= first else 0.0 for i in range(1, len(signal))]


def noisy(signal, background, k, b, uniforms, normals, first=1):
    return [0] + [poisson_quantile(uniforms[i], normals[i], k * signal[i] + b * background[i])
                  if i >= first else 0 for i in range(1, len(signal))]


def solve(signal, background, target_min, target_max, seed, first=1):
    """Source strength k and background level b for which the noisy spectrum has exactly the given
    extremes. Both extremes grow with both knobs in unit steps, so alternating bisections find them."""
    rng = random.Random(seed)
    uniforms = [0.5] + [min(max(rng.random(), 1e-12), 1 - 1e-12) for _ in range(1, len(signal))]
    normals = [NORMAL.inv_cdf(u) for u in uniforms]

    def spectrum(k, b):
        return noisy(signal, background, k, b, uniforms, normals, first)[1:]
    k = target_max / max(signal)
    b = 1.0

    def bisect(f, lo, hi, target):
        for _ in range(60):
            mid = 0.5 * (lo + hi)
            if f(mid) < target:
                lo = mid
            else:
                hi = mid
        return hi

    for _ in range(30):
        c = spectrum(k, b)
        if min(c) == target_min and max(c) == target_max:
            return [0] + c, k, b
        if max(background) > 0:
            b = bisect(lambda v: min(spectrum(k, v)), 0.0, (2 * target_min + 30) / min(x for x in background[1:] if x > 0),
                       target_min)
        k = bisect(lambda v: max(spectrum(v, b)), 0.0, 4 * k, target_max)
    c = spectrum(k, b)
    raise SystemExit("extremes not reached: %d..%d" % (min(c), max(c)))


def write(name, comments, counts, per_line=10, width=8):
    path = os.path.join(OUT, name)
    with open(path, "w") as f:
        for line in comments:
            f.write("* " + line + "\n" if line else "*\n")
        f.write("* %d channels, counts from channel 1, %d per line\n" % (len(counts) - 1, per_line))
        for i in range(1, len(counts), per_line):
            f.write("".join("%*d" % (width, v) for v in counts[i:i + per_line]) + "\n")
    print("%-10s %5d channels, counts %d .. %d" % (name, len(counts) - 1, min(counts[1:]), max(counts[1:])))


def write_truth(name, title, counts_mean, k, channels):
    """NAME.truth beside NAME.spc: the peaks recorded in PEAKS while the spectrum was built, scaled by
    the source strength k that solve() found. `counts_mean` is the expected count of every channel."""
    rows = []
    for p in PEAKS:
        if not 1 <= p.c <= channels:
            continue  # the centre lies outside the spectrum (a Ge escape of a line near the window)
        gauss = k * sum(p.gauss.values())
        area = gauss + k * sum(p.tail.values())
        # expected counts of everything else (continua, steps, other peaks) within 1.5 FWHM of the centre
        lo, hi = max(1, math.ceil(p.c - 1.5 * p.fwhm)), min(channels, math.floor(p.c + 1.5 * p.fwhm))
        under = sum(counts_mean[ch] - k * (p.gauss.get(ch, 0.0) + p.tail.get(ch, 0.0))
                    for ch in range(lo, hi + 1))
        rows.append((p.c, area, p.fwhm, p.e, gauss, under, p.kind))
    rows.sort()
    with open(os.path.join(OUT, name), "w") as f:
        f.write("* True peaks of %s as generated by scripts/make_test_spectra.py (expected values, before\n"
                "* counting noise), one line per peak, ordered by channel.\n" % title)
        for line in (
                "channel  centre of the Gaussian (the true position), channels of the .spc (first = 1)",
                "area     counts of the whole peak: Gaussian plus its low-energy tail (tail INCLUDED),",
                "         as put into channels 1..N; the step under the peak is not part of it",
                "fwhm     full width at half maximum of the Gaussian, channels",
                "energy   photon energy, keV",
                "gauss    counts of the Gaussian part alone (area minus tail)",
                "under    expected counts of everything but this peak within 1.5 FWHM of the centre",
                "         (continua, steps, other peaks): the background a fit sees under it",
                "kind     full (full-energy peak of a gamma or X-ray line), single-escape, double-escape,",
                "         annihilation, Ge-Ka-escape, Ge-Kb-escape (Ge K X-ray escape), broad"):
            f.write("* " + line + "\n")
        f.write("*%11s %14s %8s %10s %14s %14s  %s\n" %
                ("channel", "area", "fwhm", "energy", "gauss", "under", "kind"))
        for c, area, fwhm, e, gauss, under, kind in rows:
            f.write("%12.4f %14.2f %8.4f %10.3f %14.2f %14.2f  %s\n" % (c, area, fwhm, e, gauss, under, kind))


def germanium_peak_to_total(e):
    """Share of the detected photons of energy e that land in the full-energy peak (coaxial HPGe)."""
    return 0.12 + 0.78 * math.exp(-max(e - 60.0, 0.0) / 260.0)


def gamma_source(det, lines, efficiency, tail, tail_len, step, backscatter, pair=True, edge_blur=2.0):
    """Response of a germanium detector to a list of (energy keV, emission per 100 decays)."""
    m = det.zero()
    annihilation = 0.0
    for e, intensity in lines:
        area = intensity * efficiency(e)
        add_peak(m, det, e, area, tail, tail_len, step)
        pt = germanium_peak_to_total(e)
        add_compton(m, det, e, area * (1 - pt) / pt, edge_blur)
        if e > 150:
            add_bump(m, det, backscatter_energy(e), area * backscatter, 0.10 * backscatter_energy(e) + 15)
        if pair and e > 2 * ME + 200:
            f = (e - 2 * ME) / 1000.0
            add_peak(m, det, e - ME, area * 0.05 * f, tail, tail_len, kind="single-escape")
            add_peak(m, det, e - 2 * ME, area * 0.03 * f, tail, tail_len, kind="double-escape")
            annihilation += area * 0.03 * f
    if annihilation > 0:
        add_peak(m, det, ME, annihilation, tail, tail_len, extra_sigma=1.0 / det.gain, kind="annihilation")
    return m


# ---------------------------------------------------------------------------------------------------
def raa():
    PEAKS.clear()
    # 0.7 keV per channel; FWHM 1.08 keV (1.5 channels) at 186 keV to 2.1 keV (3 channels) at 2448 keV.
    det = Detector(3600, 0.35, 0.70, 0.90, 0.00142)
    lines = [  # Ra-226 and its short-lived daughters (emission per 100 decays of Ra-226)
        (53.23, 1.07), (186.21, 3.64), (241.99, 7.27), (258.87, 0.52), (274.80, 0.47), (295.22, 18.41),
        (351.93, 35.60), (609.31, 45.49), (665.45, 1.53), (768.36, 4.89), (806.17, 1.26), (934.06, 3.10),
        (1120.29, 14.91), (1155.19, 1.63), (1238.11, 5.83), (1280.96, 1.43), (1377.67, 3.99),
        (1401.50, 1.33), (1407.98, 2.39), (1509.23, 2.13), (1661.28, 1.05), (1729.60, 2.88),
        (1764.49, 15.31), (1847.42, 2.03), (2118.55, 1.16), (2204.21, 4.92), (2447.86, 1.55),
        # Pb K X-rays from the lead shield, Bi K X-rays from internal conversion in Pb-214
        (72.80, 2.1), (74.97, 3.5), (84.94, 1.2), (87.30, 0.4),
        (74.82, 1.9), (77.11, 3.2), (86.83, 1.1), (89.80, 0.35)]

    def eff(e):  # coaxial p-type germanium: dead layer at low energy, falling as E^-0.85 above
        return (e / 150.0) ** -0.85 * (1 - math.exp(-(e / 60.0) ** 2.5))

    signal = gamma_source(det, lines, eff, tail=0.04, tail_len=1.2, step=0.0015, backscatter=0.06)
    bg = det.zero()
    for ch in range(1, det.n + 1):
        e = det.energy(ch)
        # random summing of two pulses and cosmic muons: what is left above the last line
        bg[ch] = 1.0 + 1.5 * math.exp(-e / 900.0)
    counts, k, b = solve(signal, bg, 318, 3290859, seed=226)
    write_truth("raa.truth", "raa.spc", mean_counts(signal, bg, k, b), k, det.n)
    write("raa.spc", [
        "Ra-226 source in equilibrium with its daughters, coaxial HPGe detector, high statistics.",
        "E(keV) = 0.35 + 0.70 * channel; FWHM from 1.5 channels at 186 keV to 3 channels at 2448 keV.",
        "Lines (keV): Ra-226 186.2; Pb-214 53.2 242.0 295.2 351.9; Bi-214 609.3 768.4 934.1 1120.3",
        "  1238.1 1377.7 1408.0 1729.6 1764.5 1847.4 2204.1 2447.9 and weaker ones; annihilation 511;",
        "  Pb K X-rays (shield) 72.8 75.0 84.9 87.3 and Bi K X-rays 74.8 77.1 86.8.",
        "Compton continua with edges, backscatter hump near 200 keV, escape peaks, low-energy tailing,",
        "Poisson counting noise."], counts)


def negr():
    PEAKS.clear()
    # Planar germanium X-ray detector behind a thin window, 0.2 keV per channel.
    det = Detector(820, 2.0, 0.20, 0.36, 0.0018)
    am = [(11.89, 0.85), (13.76, 1.3), (13.95, 11.8), (16.82, 2.5), (17.06, 1.5), (17.75, 11.4),
          (17.99, 1.4), (20.78, 3.4), (21.10, 0.65), (21.49, 0.6), (26.34, 2.40), (33.20, 0.13),
          (43.42, 0.07), (59.54, 35.9)]
    cd = [(21.99, 29.5), (22.16, 55.7), (24.91, 15.0), (25.46, 3.0), (88.03, 3.7)]
    co = [(6.40, 50.0), (7.06, 6.5), (14.41, 9.2), (122.06, 85.6), (136.47, 10.7)]
    pb = [(72.80, 0.6), (74.97, 1.0), (84.94, 0.35), (87.30, 0.1)]  # excited in the shield

    def eff(e):  # thin window in front, thin crystal: transparent to the higher energies
        return (1 - math.exp(-(e / 7.5) ** 3)) / (1 + (e / 70.0) ** 3)

    signal = det.zero()
    for lines, activity in ((am, 1.0), (cd, 0.25), (co, 0.35), (pb, 1.0)):
        for e, intensity in lines:
            area = activity * intensity * eff(e)
            add_peak(signal, det, e, area, tail=0.06, tail_len=1.5, step=0.004)
            if e > 11.1:  # Ge K X-ray escape from the front face
                f = 0.1 * (11.1 / e) ** 1.5
                add_peak(signal, det, e - 9.88, area * f * 0.88, tail=0.06, tail_len=1.5,
                         kind="Ge-Ka-escape")
                add_peak(signal, det, e - 10.98, area * f * 0.12, tail=0.06, tail_len=1.5,
                         kind="Ge-Kb-escape")
            if e > 40:  # little Compton scattering in a thin crystal at these energies
                add_compton(signal, det, e, area * 0.15 * e / 60.0, edge_blur=3.0, fill=0.5)
                add_bump(signal, det, backscatter_energy(e), area * 0.04, 6.0)
    bg = det.zero()
    for ch in range(1, det.n + 1):
        bg[ch] = 1.0 + 6.0 * math.exp(-det.energy(ch) / 25.0)
    counts, k, b = solve(signal, bg, 1, 18603, seed=241)
    write_truth("negr.truth", "negr.spc", mean_counts(signal, bg, k, b), k, det.n)
    write("negr.spc", [
        "Low-energy photon spectrum of a mixed Am-241, Cd-109 and Co-57 source, planar germanium",
        "detector with a thin window. E(keV) = 2.0 + 0.20 * channel; FWHM 3 to 4 channels.",
        "Lines (keV): Np L X-rays 13.9 17.8 20.8; Am-241 26.3 59.5; Ag K X-rays 22.1 24.9; Cd-109 88.0;",
        "  Fe K X-rays 6.4 7.1; Co-57 14.4 122.1 136.5; Pb K X-rays 72.8 75.0 84.9 from the shield.",
        "Ge K X-ray escape peaks 9.9 keV below the lines, low-energy tailing, Poisson counting noise."],
        counts)


def front():
    PEAKS.clear()
    # Low-level environmental spectrum, 0.45 keV per channel, a large coaxial HPGe of modest resolution.
    det = Detector(3493, 0.30, 0.45, 3.2, 0.0012)
    lines = [  # soil sample: U-238 and Th-232 series, K-40, fallout Cs-137
        (46.54, 4.25 * 0.3), (63.29, 3.7), (92.6, 4.3), (185.7, 0.6), (186.21, 3.64),
        (238.63, 43.6 * 0.9), (241.99, 7.27), (295.22, 18.4), (338.32, 11.3 * 0.9), (351.93, 35.6),
        (510.77, 22.6 * 0.9 * 0.36), (583.19, 85.0 * 0.9 * 0.36), (609.31, 45.5), (661.66, 85.1 * 0.4),
        (727.33, 6.67 * 0.9), (794.95, 4.25 * 0.9), (860.56, 12.5 * 0.9 * 0.36), (911.20, 25.8 * 0.9),
        (964.77, 4.99 * 0.9), (968.97, 15.8 * 0.9), (1120.29, 14.9), (1238.11, 5.83), (1377.67, 3.99),
        (1460.82, 10.66 * 3.0), (1509.23, 2.13),
        (74.97, 2.0), (72.80, 1.2), (84.94, 0.8)]
    lines = [(e, 0.35 * i) for e, i in lines]  # weak against the scattered continuum

    def eff(e):
        return (e / 120.0) ** -0.8 * (1 - math.exp(-(e / 50.0) ** 2.5))

    signal = gamma_source(det, lines, eff, tail=0.03, tail_len=1.2, step=0.002, backscatter=0.06,
                          edge_blur=1.5)
    first = 16  # below about 8 keV the discriminator passes nothing
    for ch in range(1, det.n + 1):
        e = det.energy(ch)
        # scattered room background: the sample and the shield pile it up near 60..120 keV
        hump = 1.0 / (1 + math.exp(-(e - 25.0) / 6.0)) * (math.exp(-e / 160.0) + 0.02 * math.exp(-e / 1200.0))
        signal[ch] += 9.0 * hump
    bg = det.zero()
    counts, k, b = solve(signal, bg, 0, 2165, seed=137, first=first)
    write_truth("front.truth", "front.spc", mean_counts(signal, bg, k, b, first), k, det.n)
    write("front.spc", [
        "Low-count spectrum of an environmental soil sample, coaxial HPGe detector in a lead shield.",
        "E(keV) = 0.30 + 0.45 * channel; FWHM 4 to 5 channels; channels below 8 keV are discriminated.",
        "Weak lines (keV): Pb-210 46.5; Th-234 63.3 92.6; Ra-226 186.2; Pb-212 238.6; Pb-214 242.0 295.2",
        "  351.9; Ac-228 338.3 911.2 969.0; Tl-208 583.2 860.6; Bi-214 609.3 1120.3 1238.1 1377.7;",
        "  Cs-137 661.7; K-40 1460.8; Pb K X-rays 72.8 75.0 84.9.",
        "Scattered-radiation continuum largest near 40 keV, Poisson counting noise."], counts)


def euu():
    PEAKS.clear()
    # Eu-152, 0.89 keV per channel; a germanium detector of modest resolution (FWHM 4..7 channels).
    det = Detector(1605, 0.40, 0.89, 11.0, 0.0205)
    lines = [(39.52, 20.8), (40.12, 37.7), (45.4, 14.7), (121.78, 28.53), (244.70, 7.55), (295.94, 0.44),
             (344.28, 26.59), (367.79, 0.86), (411.12, 2.24), (443.96, 2.83), (488.68, 0.41),
             (564.02, 0.49), (586.26, 0.46), (678.62, 0.47), (688.67, 0.86), (778.90, 12.93),
             (867.38, 4.23), (964.08, 14.51), (1005.27, 0.65), (1085.84, 10.11), (1089.74, 1.73),
             (1112.08, 13.67), (1212.95, 1.42), (1299.14, 1.63), (1408.01, 20.87)]

    def eff(e):  # p-type coaxial: the Sm K X-rays are damped by the dead layer and the end cap
        return (e / 130.0) ** -0.9 * (1 - math.exp(-(e / 80.0) ** 3))

    signal = gamma_source(det, lines, eff, tail=0.05, tail_len=1.0, step=0.002, backscatter=0.05)
    bg = det.zero()
    for ch in range(1, det.n + 1):
        bg[ch] = 1.0 + 2.0 * math.exp(-det.energy(ch) / 300.0)
    counts, k, b = solve(signal, bg, 121, 43556, seed=152)
    write_truth("euu.truth", "euu.spc", mean_counts(signal, bg, k, b), k, det.n)
    write("euu.spc", [
        "Eu-152 point source, coaxial germanium detector of modest resolution.",
        "E(keV) = 0.40 + 0.89 * channel; FWHM from 4 channels at 122 keV to 7 channels at 1408 keV.",
        "Lines (keV): 121.8 244.7 344.3 411.1 444.0 778.9 867.4 964.1 1085.8 1112.1 1408.0 and weaker",
        "  ones; Sm K X-rays 39.5 40.1 45.4. Compton continua with edges, backscatter, low-energy",
        "  tailing, Poisson counting noise."], counts)


def bpeak():
    det = Detector(1024, 0.0, 1.0, 0.0, 0.0)
    signal, bg = det.zero(), det.zero()
    c, s = 520.3, 80.0 / 2.35482
    for ch in range(1, det.n + 1):
        signal[ch] = 2200.0 * math.exp(-0.5 * ((ch - c) / s) ** 2)
        bg[ch] = 1.0 - 0.5 * (ch - 1) / 1023.0  # falls to half across the spectrum
    counts, k, b = solve(signal, bg, 487, 2919, seed=80)
    peak = TruePeak("broad", c, c, 80.0)  # no energy scale: the energy column repeats the channel
    peak.gauss = {ch: signal[ch] for ch in range(1, det.n + 1)}
    PEAKS[:] = [peak]
    write_truth("bpeak.truth", "bpeak.spc", mean_counts(signal, bg, k, b), k, det.n)
    write("bpeak.spc", [
        "One broad Gaussian peak, FWHM 80 channels, height %.0f counts at channel %.1f, on a background" % (
            2200.0 * k, c),
        "falling linearly from %.0f counts at channel 1 to %.0f at channel 1024; Poisson counting noise." % (
            b, 0.5 * b),
        "Tests the fit of very wide peaks."], counts)


def main():
    os.makedirs(OUT, exist_ok=True)
    raa()
    negr()
    front()
    euu()
    bpeak()


if __name__ == "__main__":
    main()
