// The three text files as the run holds them: the whole text, and the section
// that every scan reads (from the line end after the first "begin").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorvan {

struct TextFile {
  std::string text;
  std::size_t sectionStart = 0;

  std::string_view section() const { return std::string_view(text).substr(sectionStart); }
};

// Locates the section in `text`. A carriage return right before a newline is
// part of the line end, so files saved on Windows read like Unix ones.
TextFile makeTextFile(std::string text);

// The file's own line number (from 1, as an editor counts) of the section's
// first line, the line that holds "begin".
int firstSectionLine(const TextFile& file);

// The file's line number of the last line before "end" whose first field is
// `keyword` (the line a "last one wins" setting comes from); 0 when none.
int keywordLine(const TextFile& file, std::string_view keyword);

// Reads a regular file whole; nullopt when it cannot be opened or read.
std::optional<TextFile> loadTextFile(const std::string& path);

// Line warnings of each file (the tracks variant depends on the separator).
void warnPreferencesLines(const TextFile& file);
void warnTracksLines(const TextFile& file, bool tabSeparated);
void warnFaderLines(const TextFile& file);

// Deletes every space of the fader file's section (spaces never separate).
void removeSectionSpaces(TextFile& file);

}  // namespace sorvan
