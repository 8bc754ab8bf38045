// Times the property-list reader on each hostile input of the test table and
// on the genuine fixtures.

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/property_list.h"
#include "tests/platform/hostile_property_lists.h"

namespace {

void parse(benchmark::State& state, uk::test::Bytes bytes) {
  for (auto _ : state) benchmark::DoNotOptimize(uk::platform::propertyListWithData(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

uk::test::Bytes fixture(const std::string& name) {
  std::ifstream file(std::string(UK_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  return uk::test::Bytes(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

int main(int argc, char** argv) {
  for (const char* name : {"Info.xml.plist", "Info.binary.plist"}) {
    benchmark::RegisterBenchmark((std::string("genuine/") + name).c_str(), parse, fixture(name));
  }
  for (const uk::test::HostileInput& input : uk::test::hostilePropertyLists()) {
    benchmark::RegisterBenchmark(("hostile/" + input.name).c_str(), parse, input.bytes);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
