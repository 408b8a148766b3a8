// Throughput of every cipher kernel this CPU runs, one core, and the cost of keying.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "cipher/cipher.h"
#include "cipher/kernel.h"

namespace {

void TransformBench(benchmark::State& state, Kernel kernel, bool decrypt) {
  Cipher cipher;
  if (!SetPassword(cipher, "benchmark password")) {
    state.SkipWithError("password refused");
    return;
  }
  std::vector<uint8_t> buffer(size_t(state.range(0)));
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uint8_t(i * 131 + 7);
  for (auto _ : state) {
    Seek(cipher, 0);
    (decrypt ? DecryptWith : EncryptWith)(kernel, cipher, buffer.data(), buffer.data(), buffer.size());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// Passwords differ in how many permutations they draw before one is accepted, so the
// figure is the mean over many.
void KeyScheduleBench(benchmark::State& state) {
  std::vector<std::string> passwords;
  passwords.reserve(256);
  for (int i = 0; i < 256; ++i) passwords.push_back("password number " + std::to_string(i));
  size_t next = 0;
  for (auto _ : state) {
    auto key = MakeCipherKey(passwords[next]);
    benchmark::DoNotOptimize(key.get());
    next = (next + 1) % passwords.size();
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (const Kernel& kernel : AvailableKernels()) {
    for (bool decrypt : {false, true}) {
      std::string name = std::string(decrypt ? "Decrypt/" : "Encrypt/") + kernel.name;
      benchmark::RegisterBenchmark(name.c_str(), TransformBench, kernel, decrypt)
          ->Arg(64 << 10)
          ->Arg(1 << 20);
    }
  }
  benchmark::RegisterBenchmark("KeySchedule", KeyScheduleBench)->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
