#include "textcfg/keywords.h"

#include <algorithm>
#include <cstring>

#include "base/messages.h"
#include "base/numeric.h"
#include "textcfg/checks.h"

namespace sorvan {

std::vector<std::string_view> pointToLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return lines;
}

void RemoveSpaces(std::string& text) {
  if (text.find_first_not_of(' ') == std::string::npos) return;
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
}

int RemoveExtraString(std::string& text, char c) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == c && i > 0 && text[i - 1] == c) continue;
    out.push_back(text[i]);
  }
  const int removed = static_cast<int>(text.size() - out.size());
  if (removed > 0) text = std::move(out);
  return removed;
}

void CodetoInt(std::string_view text, const char* keyword, int& value) {
  Tokenizer tok(text);
  const char* token = tok.next(Tokenizer::kWords);
  while (token) {
    if (std::strcmp(token, keyword) == 0) {
      const char* number = tok.next(Tokenizer::kWords);
      if (!number) return;
      value = readIntegerAs<int>(number);
      token = tok.next(Tokenizer::kWords);
    } else {
      token = tok.next(Tokenizer::kWords);
    }
  }
}

int readChannelField(Tokenizer& tok, bool* isMaster) {
  if (isMaster) *isMaster = false;
  std::int64_t index = 0;
  const char* field = tok.next(Tokenizer::kField);
  if (tokenIs(field, "G")) {
    index = kSubmixBase;
    field = tok.next(Tokenizer::kField);
  }
  const std::int64_t number = readInteger(field);
  if (number != 0) {
    index = (number > 0 && index > INT64_MAX - number) ? INT64_MAX : index + number;
  }
  if (tokenIs(field, "M")) {
    if (isMaster) *isMaster = true;
    return 0;
  }
  int checked = static_cast<int>(std::clamp<std::int64_t>(index, -1, kStripCount));
  checkValI(checked, 1);
  return checked;
}

void ParamsFromBuffer(std::string_view text, const char* keyword, FieldTable& table, int count,
                      int& masterFlag, int& masterStripFlag) {
  table.fill(0.0);
  count = std::clamp(count, 2, kFieldStride);
  Tokenizer tok(text);
  for (const char* token = tok.next(Tokenizer::kWords); token && !isEndToken(token);
       token = tok.next(Tokenizer::kWords)) {
    if (std::strcmp(token, keyword) != 0) continue;
    bool isMaster = false;
    const int row = readChannelField(tok, &isMaster);
    if (isMaster) {
      masterFlag = 1;
      masterStripFlag = 1;
    }
    double* fields = &table[static_cast<std::size_t>(row) * kFieldStride];
    fields[0] = 1.0;
    for (int f = 1; f < count - 1; ++f) fields[f] = nextReal(tok, Tokenizer::kField);
    fields[count - 1] = nextReal(tok, Tokenizer::kLine);
  }
}

namespace {

template <typename Apply>
void forEachListNumber(std::string_view list, Apply apply) {
  Tokenizer tok(list);
  for (const char* piece = tok.next(","); piece; piece = tok.next(",")) apply(readInteger(piece));
}

}  // namespace

void RouteChannel(std::string_view list, int bus, RoutingMatrix& matrix) {
  if (bus < 0 || bus >= kBusCount) return;
  forEachListNumber(list, [&](std::int64_t n) {
    if (n >= 1 && n <= kMaxTracks) {
      matrix[static_cast<std::size_t>(n)][static_cast<std::size_t>(bus)] = 1;
    } else {
      say("Channel assigned to sub %i is out of range!\n", bus);
    }
  });
}

void RouteVCA(std::string_view list, int vca, VcaAssignment& assignment) {
  forEachListNumber(list, [&](std::int64_t n) {
    if (n >= 0 && n < kLevelSlots) {
      assignment[static_cast<std::size_t>(n)] = vca;
    } else {
      say("Channel assigned to VCA %i is out of range!\n", vca);
    }
  });
}

TimeFields readTimeFields(Tokenizer& tok, int fieldCount) {
  TimeFields t;
  switch (fieldCount) {
    case 1:
      t.seconds = nextSingle(tok, Tokenizer::kLine);
      break;
    case 2:
      t.minutes = nextSingle(tok, Tokenizer::kField);
      t.seconds = nextSingle(tok, Tokenizer::kLine);
      break;
    default:
      t.minutes = nextSingle(tok, Tokenizer::kField);
      t.seconds = nextSingle(tok, Tokenizer::kField);
      t.milliseconds = nextSingle(tok, Tokenizer::kLine);
      break;
  }
  return t;
}

std::int64_t clockToSamples(const TimeFields& t, double sampleRate) {
  const double seconds = t.minutes * 60.0 + t.seconds + t.milliseconds / 1000.0;
  return truncateTo<std::int64_t>(seconds * sampleRate);
}

}  // namespace sorvan
