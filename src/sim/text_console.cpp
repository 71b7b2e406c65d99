#include "sim/text_console.h"

#include <cstring>
#include <vector>

namespace stb::sim {

namespace {
constexpr size_t kMaxLine = 255;
constexpr char kIdText[] = "@KVO PROTOCOL 3.0+";
constexpr uint32_t kIdLength = 18;
// The tool writes the text right after the echo of the return.
constexpr uint32_t kIdTimeoutMs = 500;
}  // namespace

bool TextLine::Add(uint8_t byte, std::string& line, const BoxLog& log) {
  if (byte == '\r') {
    const bool dropped = overflow_;
    line = text_;
    Clear();
    if (dropped) {
      log.Line("typed line longer than 255 characters: dropped");
      return false;
    }
    return true;
  }
  if (overflow_) return false;
  if (text_.size() >= kMaxLine) {
    overflow_ = true;
    text_.clear();
    return false;
  }
  text_ += static_cast<char>(byte);
  return false;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (char c : line) {
    if (c == ' ') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool ParseDecimal(const std::string& word, uint32_t& value) {
  if (word.empty() || word.size() > 10) return false;
  uint64_t v = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

bool ParseComtest(const std::string& line, uint32_t& count) {
  // Whatever stood in the line before (noise, the tail of a packet the console took for
  // text) must not keep the box from synchronising: echoing the identification text
  // instead of answering it would pass for a legacy box's answer.
  const size_t at = line.rfind("comtest ");
  if (at == std::string::npos) return false;
  const std::vector<std::string> words = Words(line.substr(at));
  return words.size() == 2 && words[0] == "comtest" && ParseDecimal(words[1], count) &&
         count >= 1 && count <= 255;
}

bool AnswerIdentification(BoxContext& ctx, uint32_t count) {
  std::vector<uint8_t> id(count);
  size_t got = 0;
  if (!ctx.line.ReadExact(id.data(), count, kIdTimeoutMs, &got)) {
    ctx.log.Printf("handshake: %zu of %u identification bytes arrived, no answer", got, count);
    return false;
  }
  if (count != kIdLength || std::memcmp(id.data(), kIdText, kIdLength) != 0) {
    ctx.log.Printf("handshake: identification \"%s\" is not \"%s\", no answer",
                   Printable(std::string(id.begin(), id.end())).c_str(), kIdText);
    return false;
  }
  if (ctx.faults.Config().silentHandshake) {
    ctx.log.Line("handshake: identification not answered (fault no-handshake)");
    return false;
  }
  const bool packet = ctx.IsPacketBox();
  if (packet)
    for (uint8_t& b : id) b = static_cast<uint8_t>(~b);
  // Counted before the answer goes out: whoever reads the answer sees the count.
  ++ctx.counters.handshakes;
  SendRaw(ctx, id);
  ctx.log.Printf("handshake: answered as a %s box (protocol %u): session begins",
                 packet ? "packet" : "legacy", ctx.options.protocol);
  return true;
}

}  // namespace stb::sim
