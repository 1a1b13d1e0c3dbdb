#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <string>

#include "geo/conversion.h"

namespace {

using tavimo::geo::ConvertToGcj02;
using tavimo::geo::ScriptHost;

// Different positions each time, as in a scan of a real folder.
std::string NextPosition(int& i) {
  ++i;
  return std::to_string(116 + (i % 1000) * 1e-4) + "," + std::to_string(39 + (i % 997) * 1e-4);
}

void ConvertWithFastPath(benchmark::State& state) {
  ScriptHost host;
  tavimo::geo::LoadConversionScript(host);
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(ConvertToGcj02(host, NextPosition(i)));
}
BENCHMARK(ConvertWithFastPath);

void ConvertByEvaluation(benchmark::State& state) {
  ScriptHost host;
  tavimo::geo::LoadConversionScript(host);
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(host.Eval("coordtransform.wgs84togcj02(" + NextPosition(i) + ")"));
  }
}
BENCHMARK(ConvertByEvaluation);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
