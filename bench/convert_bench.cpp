// Conversion of a 20,000-record command file of mixed sales, payments and
// texts, reading the file and writing XON.txt included.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "conversion/convert.h"

namespace {

constexpr int kRecords = 20000;

std::string MakeCommandFile() {
  static const char* const kRecordsCycle[] = {
      "SALE,N1,P1000,:Pane integrale;",
      "SALE,N2,P2.50,Q2,:Latte fresco;",
      "PLUD,C0012345ABC,N3,P199,Q3;",
      "PRNT,:Grazie e arrivederci;",
      "SALE,N4,P350,R,:Reso bottiglia;",
      "DISC,%10;",
      "SALE,N5,P120,S1;",
      "EXTL,:Cliente abituale;",
      "TEND,N4,V500;",
      "TEND,N1,V1500,:Contanti;",
  };
  std::string text;
  for (int i = 0; i < kRecords; ++i) {
    text += kRecordsCycle[i % (sizeof kRecordsCycle / sizeof kRecordsCycle[0])];
    text += "\r\n";
  }
  return text;
}

void BM_ConvertCommandFile(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "kolibra-convert-bench";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "SR_DATI.001").string();
  std::ofstream(path, std::ios::binary) << MakeCommandFile();

  kolibra::ConversionEnv env;
  env.settings.tenderFamily = "ZT";
  env.dataDir = dir.string();
  std::vector<std::string> lines;
  for (auto _ : state) {
    if (kolibra::ConvertCommandFile(path, lines, env) != 0) {
      state.SkipWithError("conversion refused");
      break;
    }
    benchmark::DoNotOptimize(lines.data());
  }
  state.counters["records_per_second"] =
      benchmark::Counter(static_cast<double>(kRecords), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["time_per_record"] = benchmark::Counter(
      static_cast<double>(kRecords),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ConvertCommandFile)->Unit(benchmark::kMillisecond);

// A hostile file: 100,000 sales, then 30,000 credits of type 3 (or 1), each
// of which puts a "938F" line in front of the whole stream. The two should
// cost about the same per record: the front lines must not shift the stream
// once per record.
void BM_ConvertManyCreditFunctions(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "SALE,N1,P1;\n";
  for (int i = 0; i < 30000; ++i) text += state.range(0) == 3 ? "CRED,T3;\n" : "CRED,T1;\n";
  kolibra::ConversionEnv env;
  std::vector<std::string> lines;
  for (auto _ : state) {
    kolibra::ConvertCommandText(text, lines, env);
    benchmark::DoNotOptimize(lines.data());
  }
  state.counters["time_per_record"] = benchmark::Counter(
      130000.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ConvertManyCreditFunctions)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
