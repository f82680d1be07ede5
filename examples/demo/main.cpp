#include "Demo.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::vector<DemoSection>& DemoSections()
{
  static std::vector<DemoSection> sections;
  return sections;
}

static void PrintUsage()
{
  std::printf(
      "usage: pictor-demo [--camera N] [--format N] [--seconds N] [--out DIR] [SECTION ...]\n\n"
      "Runs the library on the computer's cameras (or the virtual camera) section by section.\n"
      "Sections:\n");
  for (const DemoSection& s : DemoSections()) std::printf("  %-12s %s\n", s.name, s.summary);
  std::printf("\nTo see the same live in a window: pictor-viewer.exe (examples/viewer).\n");
}

int main(int argc, char** argv)
{
  DemoOptions options;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&](const char* flag) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "pictor-demo: %s needs a value\n", flag);
        std::exit(2);
      }
      return argv[++i];
    };
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      PrintUsage();
      return 0;
    } else if (!std::strcmp(a, "--camera")) {
      options.camera = std::atoi(value(a));
    } else if (!std::strcmp(a, "--format")) {
      options.format = std::atoi(value(a));
    } else if (!std::strcmp(a, "--seconds")) {
      options.seconds = std::atoi(value(a));
    } else if (!std::strcmp(a, "--out")) {
      options.outputDir = value(a);
    } else if (a[0] == '-') {
      std::fprintf(stderr, "pictor-demo: unknown option %s\n", a);
      PrintUsage();
      return 2;
    } else {
      options.only.push_back(a);
    }
  }

  std::vector<DemoSection> sections = DemoSections();
  std::stable_sort(sections.begin(), sections.end(),
                   [](const DemoSection& x, const DemoSection& y) { return x.rank < y.rank; });
  CreateDirectoryA(options.outputDir.c_str(), nullptr);

  int failed = 0;
  for (const DemoSection& s : sections) {
    if (!options.only.empty() && std::find(options.only.begin(), options.only.end(), s.name) == options.only.end())
      continue;
    std::printf("\n== %s: %s\n", s.name, s.summary);
    std::fflush(stdout);
    if (!s.run(options)) {
      std::printf("!! section %s failed\n", s.name);
      ++failed;
    }
    std::fflush(stdout);
  }
  return failed == 0 ? 0 : 1;
}
