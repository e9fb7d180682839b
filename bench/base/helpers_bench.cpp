// Costs of the helpers that run per request or per localized text.
#include <benchmark/benchmark.h>

#include <vector>

#include "base/helpers/base64_addition.h"
#include "base/helpers/language_bundle.h"
#include "base/helpers/md5_digest.h"
#include "base/helpers/mf_base64_codec.h"
#include "base/helpers/numeric_compare.h"
#include "base/helpers/text_validators.h"

namespace {

using namespace vistrelle::base;

std::vector<std::uint8_t> payload(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 131 + 7);
  return data;
}

void Base64Encode(benchmark::State& state) {
  const auto data = payload(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(MF_Base64Codec::base64StringFromData(data));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(Base64Encode)->Arg(64)->Arg(1 << 20);

void Base64DecodeLenient(benchmark::State& state) {
  const std::string text =
      MF_Base64Codec::base64StringFromData(payload(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(MF_Base64Codec::dataFromBase64String(text));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(Base64DecodeLenient)->Arg(64)->Arg(1 << 20);

void Md5(benchmark::State& state) {
  const auto data = payload(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(md5(data));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(Md5)->Arg(64)->Arg(1 << 20);

// Each call compiles its pattern; this shows what that costs.
void PhoneNumberCheck(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(isPhoneNumber("13800138000"));
}
BENCHMARK(PhoneNumberCheck);

void UnicodeEmailCheck(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(isValidEmailUnicode("用户.名@例子.中国"));
}
BENCHMARK(UnicodeEmailCheck);

void VersionCompare(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(numericCompare("ORVEX2PRO_FW_V1.9", "ORVEX2PRO_FW_V1.63"));
  }
}
BENCHMARK(VersionCompare);

void EnglishLookup(benchmark::State& state) {
  OrvexLocalizationHelper helper({.read = [] { return std::optional<std::string>("en"); }},
                                 processEnvironment());
  const LanguageBundle bundle(helper, LanguageBundleCache::shared());
  for (auto _ : state) benchmark::DoNotOptimize(bundle.localizedStringForKey("发现新版本"));
}
BENCHMARK(EnglishLookup);

}  // namespace

BENCHMARK_MAIN();
