#include "driver/text_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/messages.h"
#include "textcfg/keywords.h"
#include "textcfg/line_check.h"

namespace sorvan {

TextFile makeTextFile(std::string text) {
  std::string normalised;
  normalised.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    normalised.push_back(text[i]);
  }
  TextFile file;
  file.text = std::move(normalised);
  const std::size_t begin = file.text.find("begin");
  if (begin == std::string::npos) {
    file.sectionStart = 0;
  } else {
    const std::size_t lineEnd = file.text.find('\n', begin);
    // "begin" without a following line end leaves nothing to read.
    file.sectionStart = lineEnd == std::string::npos ? file.text.size() : lineEnd;
  }
  return file;
}

int firstSectionLine(const TextFile& file) {
  const auto header = std::string_view(file.text).substr(0, file.sectionStart);
  return 1 + static_cast<int>(std::count(header.begin(), header.end(), '\n'));
}

int keywordLine(const TextFile& file, std::string_view keyword) {
  const SectionLines lines(file.section());
  int found = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto fields = splitFields(lines[i], "\t");
    if (fields.empty()) continue;
    if (fields[0] == "end") break;
    if (fields[0] == keyword) found = firstSectionLine(file) + static_cast<int>(i);
  }
  return found;
}

std::optional<TextFile> loadTextFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
  if (!stream) return std::nullopt;
  std::string text;
  char chunk[1 << 16];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, stream.get())) > 0) text.append(chunk, got);
  if (std::ferror(stream.get())) return std::nullopt;
  return makeTextFile(std::move(text));
}

namespace {

void warnTabsAndSpaces(const TextFile& file, const char* fileName) {
  const auto lines = pointToLines(file.section());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const int number = static_cast<int>(i + 1);
    if (line.find("\t\t") != std::string_view::npos)
      say("\n>>>  Warning: extra tab on line %i of %s.\n", number, fileName);
    if (!line.empty() && line.back() == '\t')
      say("\n>>>  Warning: extra tab on line %i of %s.\n", number, fileName);
    if (line.find("\t ") != std::string_view::npos)
      say("\n>>>  Warning: extra space on line %i of %s.\n", number, fileName);
  }
}

}  // namespace

void warnPreferencesLines(const TextFile& file) { warnTabsAndSpaces(file, "preferences file"); }

void warnFaderLines(const TextFile& file) { warnTabsAndSpaces(file, "fader file"); }

void warnTracksLines(const TextFile& file, bool tabSeparated) {
  const auto lines = pointToLines(file.section());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i + 1);
    if (!tabSeparated && lines[i].find('\t') != std::string_view::npos)
      say("\n>>>  Warning: Tab found on line %i of tracks file:\n", number);
    if (tabSeparated && lines[i].find("  ") != std::string_view::npos)
      say("\n>>>  Warning: Extra space found on line %i of tracks file.\n", number);
  }
}

void removeSectionSpaces(TextFile& file) {
  if (file.section().find(' ') == std::string_view::npos) return;
  std::string section(file.section());
  RemoveSpaces(section);
  file.text.replace(file.sectionStart, std::string::npos, section);
}

}  // namespace sorvan
