// Speed of the settings store: reading and writing the file's text form, and a
// whole Load or Save (lock, merge, atomic replace with fsync) of a file holding a
// typical program's settings or a thousand times as many values; and the text of
// one very deep key.
#include "support/registry_store.h"
#include "support/registry_text.h"
#include "support/safe_file.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace pelrow {
namespace {

// Keys shaped like the program's own: a "Current" section of mixed values and
// a recent-files list, repeated for as many copies of the program as asked.
void FillSettings(TRegKeyNode& root, int copies) {
  for (int copy = 0; copy < copies; ++copy) {
    const std::string name = "pelrow" + std::to_string(copy);
    TRegKeyNode& current =
        root.CreatePath({"Software", "Narvell", "Vesk's Pelrow", name, "Current"});
    for (int i = 0; i < 16; ++i)
      current.SetValue("Integer" + std::to_string(i), TRegValue::FromInteger(i * 1000 - 500));
    for (int i = 0; i < 8; ++i)
      current.SetValue("Flag" + std::to_string(i), TRegValue::FromText(i % 2 ? "1" : "0"));
    TRegKeyNode& recent =
        root.CreatePath({"Software", "Narvell", "Vesk's Pelrow", name, "MRUList"});
    for (int i = 0; i < 6; ++i)
      recent.SetValue(
          "File" + std::to_string(i),
          TRegValue::FromText("/home/user/dumps/bank \"" + std::to_string(i) + "\".syx"));
  }
}

void FormatRepeatedly(benchmark::State& state, const TRegKeyNode& root) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = FormatRegistryText(root);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}

void BM_FormatSettingsText(benchmark::State& state) {
  TRegKeyNode root;
  FillSettings(root, static_cast<int>(state.range(0)));
  FormatRepeatedly(state, root);
}
BENCHMARK(BM_FormatSettingsText)->Arg(1)->Arg(1000);

void BM_ParseSettingsText(benchmark::State& state) {
  TRegKeyNode source;
  FillSettings(source, static_cast<int>(state.range(0)));
  const std::string text = FormatRegistryText(source);
  for (auto _ : state) {
    TRegKeyNode root;
    std::string error;
    benchmark::DoNotOptimize(ParseRegistryText(text, root, error));
  }
  state.SetBytesProcessed(static_cast<int64_t>(text.size() * state.iterations()));
}
BENCHMARK(BM_ParseSettingsText)->Arg(1)->Arg(1000);

class TBenchFolder {
public:
  TBenchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelrow-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
      FPath = pattern;
  }
  ~TBenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  std::string File() const { return FPath + "/registry"; }

private:
  std::string FPath;
};

// A store file holding the given number of program copies' settings.
void WriteSettingsFile(const std::string& file, int copies) {
  TRegKeyNode root;
  FillSettings(root, copies);
  TWriteFailure failure;
  WriteFileAtomically(file, FormatRegistryText(root), failure);
}

void BM_LoadStore(benchmark::State& state) {
  TBenchFolder folder;
  WriteSettingsFile(folder.File(), static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TRegistryStore store(folder.File());
    benchmark::DoNotOptimize(store.Load());
  }
}
BENCHMARK(BM_LoadStore)->Arg(1)->Arg(1000);

void BM_SaveOneChange(benchmark::State& state) {
  TBenchFolder folder;
  WriteSettingsFile(folder.File(), static_cast<int>(state.range(0)));
  TRegistryStore store(folder.File());
  store.Load();
  int32_t round = 0;
  for (auto _ : state) {
    store.WriteValue("Software\\Narvell\\Vesk's Pelrow\\pelrow0\\Current", "SendSpeed",
                     TRegValue::FromInteger(++round));
    benchmark::DoNotOptimize(store.Save());
  }
}
BENCHMARK(BM_SaveOneChange)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

// One key as deep as keys go, with names of the given length: the text's size
// grows with depth times name length, and formatting should grow with it, not
// with its square.
void BM_FormatDeepKey(benchmark::State& state) {
  TRegKeyNode root;
  std::vector<std::string> path(kMaxKeyDepth,
                                std::string(static_cast<std::size_t>(state.range(0)), 'k'));
  for (std::size_t level = 0; level < path.size(); ++level)
    path[level] += std::to_string(level);
  root.CreatePath(path).SetValue("deep", TRegValue::FromInteger(1));
  FormatRepeatedly(state, root);
}
BENCHMARK(BM_FormatDeepKey)
    ->Arg(1024)
    ->Arg(8 * 1024)
    ->Arg(32 * 1024)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace pelrow
