// The room's discussion log beside its floor, on an X display (run it under
// xvfb-run): appending one styled chat line to a word-wrapped log holding
// 1,000 and 100,000 lines, and letting the toolkit draw it.
//
//   floor: a plain Fl_Text_Display of the room's size, wrap mode and styles,
//          appended to the toolkit's own way (style letters, text, scroll)
//   ours:  the room's text area gadget, appended to as the room does
//
// Each process's resident memory after 100,000 lines is measured in a child
// of its own (this program run with --rss), so the two do not share a heap.
// The ratios close the output.
#include <FL/Fl.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Window.H>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/chat.h"
#include "app/discussion_log.h"
#include "ui/fl_gadget.h"
#include "ui/gui.h"

namespace {

constexpr int kFewLines = 1000, kManyLines = 100000;
constexpr int kTimedAppends = 200;

// The room's window and log area geometry (client 800 x 600).
constexpr int kLogX = 210, kLogY = 100, kLogW = 800 - 420, kLogH = 600 - 190;

struct TLine {
  TString text;
  TLogStyle style;
};

// Chat lines of 10 to 200 characters from a fixed seed, the sides taking
// turns and a bold notice now and then, as a busy debate writes them.
class TLineMaker {
 public:
  TLine Next() {
    static const char16_t* const names[] = {u"Alice", u"Bob", u"Carol", u"Dave", u"Erin"};
    const int n = counter_++;
    if (n % 25 == 24) return {JoinedText(names[n % 5], u"** 12:00:00 - 01 Jan 2025"), LOG_BOLD};
    TString words;
    const size_t length = 10 + Random() % 191;
    while (words.size() < length) {
      if (!words.empty()) words += u' ';
      const size_t word = 2 + Random() % 8;
      for (size_t i = 0; i < word; ++i) words += static_cast<char16_t>(u'a' + Random() % 26);
    }
    return {ChatLine(names[n % 5], u"GUEST", words) + u"\n", n % 2 ? LOG_RED : LOG_BLUE};
  }

 private:
  uint32_t Random() {
    seed_ = seed_ * 1103515245u + 12345u;
    return seed_ >> 8;
  }
  uint32_t seed_ = 12345;
  int counter_ = 0;
};

// The floor: the toolkit's display with a style buffer and the same four
// styles the room uses (black, bold black, red, blue).
class TFloorLog {
 public:
  TFloorLog(Fl_Font font, Fl_Fontsize size)
      : window_(800, 600, "floor"), display_(kLogX, kLogY, kLogW, kLogH) {
    window_.end();
    styleTable_ = {{FL_BLACK, font, size, 0},
                   {FL_BLACK, font | FL_BOLD, size, 0},
                   {fl_rgb_color(255, 0, 0), font, size, 0},
                   {fl_rgb_color(0, 0, 255), font, size, 0}};
    display_.box(FL_THIN_DOWN_BOX);
    display_.textfont(font);
    display_.textsize(size);
    display_.buffer(&text_);
    display_.highlight_data(&styles_, styleTable_.data(), static_cast<int>(styleTable_.size()), 0,
                            nullptr, nullptr);
    display_.wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
    window_.show();
  }
  ~TFloorLog() { window_.hide(); }

  void Append(const TLine& line) {
    std::string bytes = ToBytes(line.text);
    styles_.append(std::string(bytes.size(), Letter(line.style)).c_str());
    text_.append(bytes.c_str());
    display_.insert_position(text_.length());
    display_.show_insert_position();
  }
  // Many lines at once, for filling the log before the timed appends.
  void AppendMany(const std::vector<TLine>& lines) {
    std::string bytes, letters;
    for (const TLine& line : lines) {
      std::string b = ToBytes(line.text);
      bytes += b;
      letters.append(b.size(), Letter(line.style));
    }
    styles_.append(letters.c_str());
    text_.append(bytes.c_str());
    display_.insert_position(text_.length());
    display_.show_insert_position();
  }

 private:
  static char Letter(TLogStyle style) { return static_cast<char>('A' + static_cast<int>(style)); }

  // The buffers outlive the display, which detaches itself from them.
  Fl_Text_Buffer text_, styles_;
  std::vector<Fl_Text_Display::Style_Table_Entry> styleTable_;
  Fl_Window window_;
  Fl_Text_Display display_;
};

// Ours: the room window's log area made as the room makes it.
class TOurLog {
 public:
  TOurLog() {
    window_ = MakeWindow(u"ours", 0, 0, 800, 600, nullptr, WIN_CENTRED | WIN_CLIENT_RECT | WIN_TITLED);
    area_ = MakeTextArea(kLogX, kLogY, kLogW, kLogH, window_,
                         TXA_WORDWRAP | TXA_READONLY | TXA_KEEPVIEW);
    log_ = std::make_unique<TDiscussionLog>(area_);
  }
  ~TOurLog() { window_->CleanUp(); }

  void Append(const TLine& line) { log_->Append(line.text, line.style); }
  Fl_Text_Display* Display() const {
    return static_cast<Fl_Text_Display*>(static_cast<TFLGadget*>(area_.get())->flhandle);
  }

 private:
  TGadgetRef window_, area_;
  std::unique_ptr<TDiscussionLog> log_;
};

// Lets the toolkit draw what changed, as the event loop does after a tick.
void Draw() { Fl::flush(); }

void Settle() {
  for (int i = 0; i < 3; ++i) Fl::check();
}

void BM_FloorAppend(benchmark::State& state) {
  InitGui();
  TLineMaker maker;
  TOurLog fontSource;  // the gadget's font, so both draw the same glyphs
  TFloorLog floor(fontSource.Display()->textfont(), fontSource.Display()->textsize());
  std::vector<TLine> fill;
  for (int64_t i = 0; i < state.range(0); ++i) fill.push_back(maker.Next());
  floor.AppendMany(fill);
  Settle();
  for (auto _ : state) {
    floor.Append(maker.Next());
    Draw();
  }
  Settle();
}

void BM_OursAppend(benchmark::State& state) {
  InitGui();
  TLineMaker maker;
  TOurLog ours;
  for (int64_t i = 0; i < state.range(0); ++i) ours.Append(maker.Next());
  Settle();
  for (auto _ : state) {
    ours.Append(maker.Next());
    Draw();
  }
  Settle();
}

BENCHMARK(BM_FloorAppend)->Arg(kFewLines)->Arg(kManyLines)->Iterations(kTimedAppends)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursAppend)->Arg(kFewLines)->Arg(kManyLines)->Iterations(kTimedAppends)
    ->Unit(benchmark::kMillisecond);

long ResidentKb() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, status))
    if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::atol(line + 6);
  std::fclose(status);
  return kb;
}

// Child mode: fills one log with `lines` lines, draws, prints its RSS in kB.
int RssChild(const std::string& which, int lines) {
  InitGui();
  TLineMaker maker;
  if (which == "floor") {
    TOurLog fontSource;
    TFloorLog floor(fontSource.Display()->textfont(), fontSource.Display()->textsize());
    // In steps of 1,000 lines: one at a time would take the floor an hour.
    for (int i = 0; i < lines; i += 1000) {
      std::vector<TLine> step;
      for (int j = i; j < lines && j < i + 1000; ++j) step.push_back(maker.Next());
      floor.AppendMany(step);
      Draw();
    }
    Settle();
    std::printf("%ld\n", ResidentKb());
  } else {
    TOurLog ours;
    for (int i = 0; i < lines; ++i) {
      ours.Append(maker.Next());
      if (i % 1000 == 0) Draw();
    }
    Settle();
    std::printf("%ld\n", ResidentKb());
  }
  return 0;
}

long RssOfChild(const char* self, const char* which, int lines) {
  std::string command = std::string("'") + self + "' --rss " + which + " " + std::to_string(lines);
  std::FILE* child = popen(command.c_str(), "r");
  if (!child) return -1;
  long kb = -1;
  if (std::fscanf(child, "%ld", &kb) != 1) kb = -1;
  pclose(child);
  return kb;
}

struct TCost {
  double realMs = 0, cpuMs = 0;
};

// Keeps each run's mean time per append, by benchmark name.
class TRecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      perAppend[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    ConsoleReporter::ReportRuns(runs);
  }
  TCost Of(const char* name, int lines) const {
    auto it = perAppend.find(std::string(name) + "/" + std::to_string(lines) +
                             "/iterations:" + std::to_string(kTimedAppends));
    return it == perAppend.end() ? TCost() : it->second;
  }
  std::map<std::string, TCost> perAppend;
};

void PrintRatios(const TRecordingReporter& reporter, bool cpu) {
  auto ms = [&](const char* name, int lines) {
    TCost cost = reporter.Of(name, lines);
    return cpu ? cost.cpuMs : cost.realMs;
  };
  const double floorFew = ms("BM_FloorAppend", kFewLines), floorMany = ms("BM_FloorAppend", kManyLines);
  const double oursFew = ms("BM_OursAppend", kFewLines), oursMany = ms("BM_OursAppend", kManyLines);
  if (floorFew <= 0 || floorMany <= 0 || oursFew <= 0 || oursMany <= 0) return;
  std::printf("\nper append, ms (%s)  1k lines   100k lines   100k/1k\n", cpu ? "CPU " : "real");
  std::printf("floor (plain widget)  %8.3f   %10.3f   %7.2f\n", floorFew, floorMany, floorMany / floorFew);
  std::printf("ours (room's log)     %8.3f   %10.3f   %7.2f\n", oursFew, oursMany, oursMany / oursFew);
  std::printf("ours / floor          %8.2f   %10.2f\n", oursFew / floorFew, oursMany / floorMany);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--rss") == 0) return RssChild(argv[2], std::atoi(argv[3]));
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "bench_log needs an X display: xvfb-run -a %s\n", argv[0]);
    return 1;
  }
  bool measureMemory = true;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--no-rss") == 0) measureMemory = false;
  benchmark::Initialize(&argc, argv);
  TRecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  PrintRatios(reporter, false);
  PrintRatios(reporter, true);
  if (!measureMemory) return 0;
  const long emptyKb = RssOfChild(argv[0], "ours", 0);
  const long floorKb = RssOfChild(argv[0], "floor", kManyLines);
  const long oursKb = RssOfChild(argv[0], "ours", kManyLines);
  std::printf("\nresident memory, MB      empty   %dk lines   growth\n", kManyLines / 1000);
  std::printf("floor (plain widget)  %7.1f  %10.1f  %7.1f\n", emptyKb / 1024.0, floorKb / 1024.0,
              (floorKb - emptyKb) / 1024.0);
  std::printf("ours (room's log)     %7.1f  %10.1f  %7.1f\n", emptyKb / 1024.0, oursKb / 1024.0,
              (oursKb - emptyKb) / 1024.0);
  return 0;
}
