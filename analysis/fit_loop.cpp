#include "analysis/fit_loop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "analysis/interval_checks.h"
#include "analysis/spectrum_fit.h"
#include "analysis/spectrum_input.h"
#include "analysis/workspace.h"
#include "spectrum/formats/formats.h"

namespace orv {
namespace {

// Collects lines in order.
class LineBuffer : public LineSink {
 public:
  std::vector<std::string> lines;
  bool WriteLine(const std::string& line) override {
    lines.push_back(line);
    return true;
  }
};

// What one spectrum showed the user and reported to the output file, kept until its turn in list
// order. A worker cannot wait for answers, so questions are refused as in a run without a user.
class RecordingPort : public UiPort, public LineSink {
 public:
  enum class Kind { kMessage, kStatus, kPrompt, kText, kNote };
  struct Event {
    Kind kind;
    std::vector<std::string> texts;
  };
  std::vector<Event> events;

  bool ShowDialog(DialogRequest& r) override { return r.accepted = false; }
  void ShowMessage(const std::string& text) override { events.push_back({Kind::kMessage, {text}}); }
  bool AskYesNo(const std::string&) override { return false; }
  bool AskOkCancel(const std::string&) override { return false; }
  void ShowStatus(const std::string& line1, const std::string& line2) override {
    events.push_back({Kind::kStatus, {line1, line2}});
  }
  void ShowPrompt(const std::string& text) override { events.push_back({Kind::kPrompt, {text}}); }
  std::optional<std::string> ChooseFileToOpen(const FileOpenRequest&) override { return std::nullopt; }
  void ShowText(const std::vector<std::string>& lines) override { events.push_back({Kind::kText, lines}); }
  bool WriteLine(const std::string& line) override {
    events.push_back({Kind::kNote, {line}});
    return true;
  }

  void Replay(UiPort& port, LineSink* notes) const {
    for (const Event& e : events) {
      switch (e.kind) {
        case Kind::kMessage:
          port.ShowMessage(e.texts[0]);
          break;
        case Kind::kStatus:
          port.ShowStatus(e.texts[0], e.texts[1]);
          break;
        case Kind::kPrompt:
          port.ShowPrompt(e.texts[0]);
          break;
        case Kind::kText:
          port.ShowText(e.texts);
          break;
        case Kind::kNote:
          if (notes) notes->WriteLine(e.texts[0]);
          break;
      }
    }
  }
};

struct SpectrumRecord {
  RecordingPort port;
  LineBuffer table;
  bool read = false;
  bool failed = false;
};

// A worker's own workspace and the last spectrum it read.
struct Worker {
  explicit Worker(const std::string& startDir) : ws(std::make_unique<Workspace>(startDir)) {}
  std::unique_ptr<Workspace> ws;
  TSpectrum kept;
  int keptIndex = -1;
};

void FitOneSpectrum(const Workspace& snapshot, Worker& worker, const std::string& name, int index,
                    SpectrumRecord& rec, bool keep) {
  Workspace& w = *worker.ws;
  CopyWorkspaceForWorker(snapshot, w);
  w.engine.sink = &rec.port;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name, ec)) {
    rec.port.ShowStatus("No file " + name, "");
    rec.failed = true;
    return;
  }
  w.spectrum.fileName = name;
  // Every file is read in the format its content shows; binary word files take the loop's type.
  const int detected = DetectSpectrumFormat(name).type;
  if (IsFormatType(detected)) {
    w.spectrum.fileType = detected;
  } else if (IsFormatType(w.spectrum.fileType)) {
    rec.port.ShowMessage("Spectrum " + name + " is wrong: its format is not recognised");
    rec.failed = true;
    return;
  }
  // A file without a single count (an empty file reads as one channel of 0) is no spectrum. The
  // calibration in force at the start serves every spectrum; the files' own are not used.
  if (!LoadSpectrum(w, rec.port, false) || w.spectrum.maxValue == 0.0) {
    rec.port.ShowMessage("Spectrum " + name + " is wrong");
    rec.failed = true;
    return;
  }
  rec.read = true;
  rec.table.WriteLine(std::string(20, ' ') + "Spectrum " + name);
  rec.port.ShowStatus(name, "Processing");
  if (!SpectrumFit(w, rec.port, 1, &rec.table)) rec.failed = true;
  if (keep) {
    std::swap(worker.kept, w.spectrum);  // the next copy from the snapshot refills w.spectrum
    worker.keptIndex = index;
  }
}

void GuardedFit(const Workspace& snapshot, Worker& worker, const std::string& name, int index,
                SpectrumRecord& rec, bool keep) {
  try {
    FitOneSpectrum(snapshot, worker, name, index, rec, keep);
  } catch (const std::exception& e) {
    // Out of memory or the like: this spectrum is lost, the others and the caller go on.
    rec.port.ShowMessage("Spectrum " + name + " is wrong: " + e.what());
    rec.failed = true;
  }
}

std::string LoopTablePath(const Workspace& ws) {
  std::filesystem::path name(ws.state.loopTableFile);
  return (name.has_parent_path() ? name : std::filesystem::path(ws.state.startDir) / name).string();
}

}  // namespace

FitLoopSummary RunFitLoop(const Workspace& ws, const std::vector<std::string>& names, int workers,
                          LineSink& table, UiPort& port, LineSink* notes, TSpectrum* lastSpectrum) {
  FitLoopSummary summary;
  const int n = static_cast<int>(names.size());
  summary.processed = n;
  if (n == 0) return summary;

  auto snapshot = std::make_unique<Workspace>(ws.state.startDir);
  CopyWorkspaceForWorker(ws, *snapshot);
  snapshot->spectrum.ClearData();

  const bool keep = lastSpectrum != nullptr;
  const int count = std::clamp(workers, 1, n);
  std::vector<Worker> pool;
  pool.reserve(count);
  for (int k = 0; k < count; ++k) pool.emplace_back(ws.state.startDir);

  std::vector<SpectrumRecord> records(n);
  // Hands one finished spectrum's record to the calling thread.
  auto deliver = [&](int i) {
    SpectrumRecord& rec = records[i];
    for (const std::string& line : rec.table.lines) summary.tableWritten &= table.WriteLine(line);
    rec.port.Replay(port, notes);
    if (rec.failed) ++summary.failed;
    if (rec.read) summary.lastRead = i + 1;
    rec = SpectrumRecord{};  // the lines are out; free them
  };

  if (count == 1) {
    for (int i = 0; i < n; ++i) {
      GuardedFit(*snapshot, pool[0], names[i], i, records[i], keep);
      deliver(i);
    }
  } else {
    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<char> done(n, 0);
    std::vector<std::thread> threads;
    threads.reserve(count);
    // However the calling thread leaves (a port that throws included), the workers stop taking new
    // spectra and are joined before the records they write go away.
    struct Joiner {
      std::vector<std::thread>& threads;
      std::atomic<int>& next;
      int n;
      ~Joiner() {
        next.store(n);
        for (std::thread& t : threads) t.join();
      }
    } joiner{threads, next, n};
    for (int k = 0; k < count; ++k) {
      try {
        threads.emplace_back([&, k] {
          for (int i = next.fetch_add(1); i < n; i = next.fetch_add(1)) {
            GuardedFit(*snapshot, pool[k], names[i], i, records[i], keep);
            std::lock_guard<std::mutex> lock(mutex);
            done[i] = 1;
            finished.notify_all();
          }
        });
      } catch (const std::system_error&) {
        break;  // the system gives no more threads: the ones running share the list
      }
    }
    for (int i = 0; i < n; ++i) {
      if (threads.empty()) {  // not even one: the calling thread fits them itself
        GuardedFit(*snapshot, pool[0], names[i], i, records[i], keep);
        deliver(i);
        continue;
      }
      {
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [&] { return done[i] != 0; });
      }
      deliver(i);
    }
  }

  if (keep && summary.lastRead > 0) {
    for (Worker& w : pool)
      if (w.keptIndex == summary.lastRead - 1) *lastSpectrum = std::move(w.kept);
  }
  return summary;
}

FitLoopOutcome FitLoopCommand(Workspace& ws, UiPort& port, int workers) {
  AnalysisState& st = ws.state;
  FitLoopOutcome out;
  out.tablePath = LoopTablePath(ws);
  auto refuse = [&](const std::string& text) {
    st.reportLines = {text, ""};
    port.ShowStatus(text, "");
    return out;
  };
  if (st.nameCount <= 0) return refuse("Error, no spectrum file names");
  if (ws.marking.peakCount == 0 || ws.marking.intervalCount == 0) return refuse("Error, no marking data");
  if (ws.spectrum.fileType != 1 && ws.spectrum.fileType != 2 && !IsFormatType(ws.spectrum.fileType))
    return refuse("Error, this file type not allowed");
  if (!CheckMarkingBounds(ws.marking, port)) return refuse("Error, marking outside the spectrum arrays");

  OutputFile table;
  if (!table.Create(out.tablePath)) return refuse("Error, cannot create the loop table " + out.tablePath);
  out.ran = true;
  const bool headerWritten = table.WriteLine(kLoopTableHeader);
  port.ClearForm();

  const int count = std::min(st.nameCount, kNameListCapacity);
  const std::vector<std::string> names(ws.names.names.begin() + 1, ws.names.names.begin() + 1 + count);
  TSpectrum last;
  out.summary = RunFitLoop(ws, names, workers, table, port, ws.output.isOpen() ? &ws.output : nullptr, &last);
  out.summary.tableWritten &= headerWritten;
  const std::string writeError = table.lastError();
  table.Close();

  if (out.summary.lastRead > 0) {
    ws.spectrum = std::move(last);
    SetInterval(st, ws.spectrum, ws.spectrum.b1, ws.spectrum.b2);
  }
  std::vector<std::string> text{"FIT  LOOP"};
  if (out.summary.tableWritten) {
    text.push_back("LOOP  FIT  finished, Results saved to " + st.loopTableFile);
  } else {
    text.push_back("LOOP  FIT  finished, Error, the loop table " + out.tablePath +
                   " is incomplete: " + writeError);
  }
  text.push_back("  " + std::to_string(out.summary.processed) + " spectra processed");
  text.push_back("  " + std::to_string(out.summary.failed) + " spectra failed");
  port.ShowText(text);
  return out;
}

}  // namespace orv
