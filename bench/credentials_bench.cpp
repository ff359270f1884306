// What one sign-in costs: a cold check (a password against its stored hash,
// per scheme), making a new hash, and a warm one (the cache's keyed hash and
// lookup). Run: build-bench/bench/pelorin_credentials_bench
#include <benchmark/benchmark.h>

#include <string>

#include "service/password_hash.h"
#include "service/sign_in_cache.h"

namespace {

using pelorin::HashPassword;
using pelorin::VerifyPassword;

void BM_HashYescrypt(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(HashPassword("correct horse battery"));
}
BENCHMARK(BM_HashYescrypt)->Unit(benchmark::kMillisecond);

// A cold check of each scheme that verifies: yescrypt (what every new
// password gets), bcrypt at htpasswd's default cost 5, sha512-crypt.
void BM_VerifyCold(benchmark::State& state) {
  static const std::string kStored[] = {
      HashPassword("correct horse battery"),
      "$2y$05$ydvWvXcAfBByJEzD6a5u4uRDnOqL7A8PrtTtt59tTNx/uEy4e5yFC",
      "$6$NslNgxdMZ00hIclb$sMVTNWYv0vnqkta.11lZrEzH0vqR77GaAPePXY2QGStpnGY7lnbUMS4/hKMWjBCbuI3izNqNNBUz2/x1CaJT/1",
  };
  const std::string& stored = kStored[state.range(0)];
  const char* password = state.range(0) == 0 ? "correct horse battery" : "old secret";
  for (auto _ : state) {
    if (!VerifyPassword(password, stored)) state.SkipWithError("the password did not verify");
  }
  state.SetLabel(state.range(0) == 0 ? "yescrypt" : state.range(0) == 1 ? "bcrypt-5" : "sha512-crypt");
}
BENCHMARK(BM_VerifyCold)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_VerifyWarm(benchmark::State& state) {
  pelorin::TSignInCache cache;
  const auto now = pelorin::TSignInCache::TClock::now();
  const std::string stored = HashPassword("pw");
  for (int i = 0; i < 1000; ++i) cache.Remember("user" + std::to_string(i), "pw", stored, now);
  for (auto _ : state) benchmark::DoNotOptimize(cache.Holds("user500", "pw", stored, now));
}
BENCHMARK(BM_VerifyWarm)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
