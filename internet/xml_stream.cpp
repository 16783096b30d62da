#include "internet/xml_stream.h"

#include <cstring>

namespace internet::xml {
namespace {

constexpr char kXmlNamespace[] = "http://www.w3.org/XML/1998/namespace";
constexpr char kCdataOpen[] = "![CDATA[";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isNameByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == ':' || u >= 0x80;
}

// Well-formed UTF-8 of characters XML allows (no C0 control but tab, line
// feed and carriage return; no surrogate; no U+FFFE or U+FFFF).
bool isXmlText(const std::string& text) {
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = b[i];
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t code = 0;
    if ((c & 0xE0) == 0xC0) {
      length = 2;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + length > n) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((b[i + k] & 0xC0) != 0x80) return false;
      code = code << 6 | (b[i + k] & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
        code == 0xFFFE || code == 0xFFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

void appendUtf8(uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// A character reference's number ("#65", "#x41"), or 0 when it is none.
uint32_t characterReference(const char* at, size_t length) {
  if (length < 2 || at[0] != '#') return 0;
  const bool hex = at[1] == 'x';
  size_t i = hex ? 2 : 1;
  if (i == length || length - i > 8) return 0;
  uint32_t code = 0;
  for (; i < length; ++i) {
    const char c = at[i];
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return 0;
    }
    code = code * (hex ? 16 : 10) + digit;
    if (code > 0x10FFFF) return 0;
  }
  const bool allowed = code == 0x9 || code == 0xA || code == 0xD ||
                       (code >= 0x20 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
                       code >= 0x10000;
  return allowed ? code : 0;
}

// Text with its references replaced; false on a raw '<', an unknown
// entity, a bad reference or text that is not XML's UTF-8.
bool unescape(const char* text, size_t length, std::string& out) {
  out.clear();
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '<') return false;
    if (c != '&') {
      out += c;
      continue;
    }
    const void* found = std::memchr(text + i + 1, ';', length - i - 1);
    if (found == nullptr) return false;
    const size_t end = static_cast<size_t>(static_cast<const char*>(found) - text);
    const char* name = text + i + 1;
    const size_t nameLength = end - i - 1;
    const auto is = [&](const char* entity) {
      return nameLength == std::strlen(entity) && std::memcmp(name, entity, nameLength) == 0;
    };
    if (is("lt")) {
      out += '<';
    } else if (is("gt")) {
      out += '>';
    } else if (is("amp")) {
      out += '&';
    } else if (is("quot")) {
      out += '"';
    } else if (is("apos")) {
      out += '\'';
    } else {
      const uint32_t code = characterReference(name, nameLength);
      if (code == 0) return false;
      appendUtf8(code, out);
    }
    i = end;
  }
  return isXmlText(out);
}

bool validName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameBytes || name[0] == ':' || name.back() == ':' ||
      (name[0] >= '0' && name[0] <= '9') || name[0] == '-' || name[0] == '.') {
    return false;
  }
  for (const char c : name) {
    if (!isNameByte(c)) return false;
  }
  return std::strchr(name.c_str(), ':') == std::strrchr(name.c_str(), ':') && isXmlText(name);
}

// A start tag's name and attributes ("a x='1' y=\"2\""), as written.
struct Tag {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
};

bool parseTag(const std::string& text, Tag& tag, std::string& why) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && !isSpace(text[i])) ++i;
  tag.name = text.substr(0, i);
  if (!validName(tag.name)) {
    why = "a name that is not XML, or too long";
    return false;
  }
  for (;;) {
    const size_t before = i;
    while (i < n && isSpace(text[i])) ++i;
    if (i == n) return true;
    if (i == before) {
      why = "attributes run together";
      return false;
    }
    const size_t nameStart = i;
    while (i < n && text[i] != '=' && !isSpace(text[i])) ++i;
    std::string name = text.substr(nameStart, i - nameStart);
    while (i < n && isSpace(text[i])) ++i;
    if (i == n || text[i] != '=') {
      why = "an attribute without a value";
      return false;
    }
    ++i;
    while (i < n && isSpace(text[i])) ++i;
    if (i == n || (text[i] != '"' && text[i] != '\'')) {
      why = "an attribute value without quotes";
      return false;
    }
    const char quote = text[i++];
    const size_t valueStart = i;
    while (i < n && text[i] != quote) ++i;
    if (i == n) {
      why = "an attribute value without its end";
      return false;
    }
    std::string value;
    if (!validName(name) || !unescape(text.data() + valueStart, i - valueStart, value)) {
      why = "an attribute that is not XML";
      return false;
    }
    ++i;
    for (const auto& attribute : tag.attributes) {
      if (attribute.first == name) {
        why = "an attribute given twice";
        return false;
      }
    }
    if (tag.attributes.size() == kMaxAttributes) {
      why = "too many attributes";
      return false;
    }
    tag.attributes.emplace_back(std::move(name), std::move(value));
  }
}

}  // namespace

const std::string* Element::attribute(const char* attributeName) const {
  for (const auto& attribute : attributes) {
    if (attribute.first == attributeName) return &attribute.second;
  }
  return nullptr;
}

void Element::setAttribute(const char* attributeName, std::string value) {
  for (auto& attribute : attributes) {
    if (attribute.first == attributeName) {
      attribute.second = std::move(value);
      return;
    }
  }
  attributes.emplace_back(attributeName, std::move(value));
}

const Element* Element::child(const char* childName, const char* childNs) const {
  for (const Element& c : children) {
    if (c.name == childName && (childNs == nullptr || c.ns == childNs)) return &c;
  }
  return nullptr;
}

Element& Element::addChild(Element element) {
  children.push_back(std::move(element));
  return children.back();
}

std::string escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void write(const Element& element, const std::string& parentNs, std::string& out) {
  out += '<';
  out += element.name;
  if (element.ns != parentNs) out += " xmlns='" + escape(element.ns) + "'";
  for (const auto& [name, value] : element.attributes)
    out += " " + name + "='" + escape(value) + "'";
  if (element.children.empty() && element.text.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  out += escape(element.text);
  for (const Element& child : element.children) write(child, element.ns, out);
  out += "</" + element.name + ">";
}

StreamReader::Event StreamReader::fail(const char* why) {
  if (mode_ != Mode::Failed) error_ = why;
  mode_ = Mode::Failed;
  pending_.clear();
  pending_.shrink_to_fit();
  stanza_ = Element();
  open_.clear();
  return Event::Error;
}

StreamReader::Event StreamReader::read(const char* bytes, size_t length, size_t* used) {
  if (mode_ == Mode::Failed) return Event::Error;
  if (streamClosed_) {
    if (*used < length) return fail("bytes after the stream's end");
    return Event::None;
  }
  while (*used < length) {
    const char c = bytes[(*used)++];
    const bool inStanza = !open_.empty() || (streamOpen_ && mode_ != Mode::Text);
    if (inStanza && ++stanzaBytes_ > kMaxStanzaBytes) return fail("a stanza over its size limit");
    switch (mode_) {
      case Mode::Text:
        if (c == '<') {
          if (!flushText()) return fail("text that is not XML");
          mode_ = Mode::Markup;
          quote_ = 0;
        } else if (open_.empty()) {
          if (!isSpace(c)) return fail("text outside a stanza");
          if (!streamOpen_) declarationAllowed_ = false;
        } else {
          pending_ += c;
        }
        break;
      case Mode::Markup: {
        pending_ += c;
        if (pending_.size() > kMaxStanzaBytes) return fail("markup over its size limit");
        if (pending_[0] == '!') {
          // A CDATA section inside a stanza; comments and document type
          // declarations never.
          const size_t n = pending_.size();
          if (n > sizeof kCdataOpen - 1 || pending_[n - 1] != kCdataOpen[n - 1] || open_.empty())
            return fail("a comment or a document type declaration");
          if (n == sizeof kCdataOpen - 1) {
            mode_ = Mode::Cdata;
            pending_.clear();
          }
          break;
        }
        if (quote_ != 0) {
          if (c == quote_) quote_ = 0;
          break;
        }
        if (c == '"' || c == '\'') {
          quote_ = c;
          break;
        }
        if (c != '>') break;
        pending_.pop_back();
        mode_ = Mode::Text;
        const Event event = markup();
        pending_.clear();
        if (event != Event::None) return event;
        break;
      }
      case Mode::Cdata: {
        pending_ += c;
        const size_t n = pending_.size();
        if (n >= 3 && pending_.compare(n - 3, 3, "]]>") == 0) {
          pending_.resize(n - 3);
          if (!isXmlText(pending_)) return fail("text that is not XML");
          open_.back()->text += pending_;
          pending_.clear();
          mode_ = Mode::Text;
        }
        break;
      }
      case Mode::Failed:
        return Event::Error;
    }
  }
  return Event::None;
}

bool StreamReader::flushText() {
  if (pending_.empty()) return true;
  std::string text;
  if (open_.empty() || !unescape(pending_.data(), pending_.size(), text)) return false;
  open_.back()->text += text;
  pending_.clear();
  return true;
}

StreamReader::Event StreamReader::markup() {
  if (pending_.empty()) return fail("an empty tag");
  if (pending_[0] == '?') {
    // Only the declaration, and only before anything else.
    if (!declarationAllowed_ || pending_.compare(0, 4, "?xml") != 0 || pending_.back() != '?' ||
        pending_.size() < 6 || !isSpace(pending_[4])) {
      return fail("a processing instruction");
    }
    declarationAllowed_ = false;
    return Event::None;
  }
  declarationAllowed_ = false;
  if (pending_[0] == '/') return closeTag(pending_.substr(1));
  const bool selfClosing = pending_.back() == '/';
  if (selfClosing) pending_.pop_back();
  return openTag(pending_, selfClosing);
}

bool StreamReader::resolve(const std::string& qualified, std::string& local,
                           std::string& ns) const {
  const size_t colon = qualified.find(':');
  const std::string prefix = colon == std::string::npos ? "" : qualified.substr(0, colon);
  local = colon == std::string::npos ? qualified : qualified.substr(colon + 1);
  if (prefix == "xml") {
    ns = kXmlNamespace;
    return true;
  }
  for (auto it = declarations_.rbegin(); it != declarations_.rend(); ++it) {
    if (it->prefix == prefix) {
      ns = it->ns;
      return true;
    }
  }
  ns.clear();
  return prefix.empty();  // no default namespace: none
}

StreamReader::Event StreamReader::openTag(const std::string& text, bool selfClosing) {
  Tag tag;
  std::string why;
  if (!parseTag(text, tag, why)) return fail(why.c_str());
  const int depth = static_cast<int>(open_.size()) + (streamOpen_ ? 1 : 0);
  if (depth > kMaxDepth) return fail("a stanza nested over its depth limit");
  Element element;
  for (auto& [name, value] : tag.attributes) {
    if (name == "xmlns" || name.compare(0, 6, "xmlns:") == 0) {
      const std::string prefix = name == "xmlns" ? "" : name.substr(6);
      if (prefix == "xml" || prefix == "xmlns" || (!prefix.empty() && value.empty()))
        return fail("a namespace declaration that is not allowed");
      declarations_.push_back({prefix, value, depth});
    } else {
      element.attributes.emplace_back(std::move(name), std::move(value));
    }
  }
  if (!resolve(tag.name, element.name, element.ns)) return fail("a prefix never declared");
  if (!streamOpen_) {
    if (element.name != "stream" || element.ns != kStreamNamespace || selfClosing)
      return fail("no stream header");
    streamOpen_ = true;
    stream_ = std::move(element);
    return Event::StreamOpened;
  }
  if (open_.empty()) {
    stanzaBytes_ = text.size() + 2;
    elements_ = 0;
    stanza_ = std::move(element);
    open_.push_back(&stanza_);
  } else {
    open_.push_back(&open_.back()->addChild(std::move(element)));
  }
  if (++elements_ > kMaxElements) return fail("a stanza with too many elements");
  return selfClosing ? closeTag(tag.name) : Event::None;
}

StreamReader::Event StreamReader::closeTag(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && isSpace(text[end - 1])) --end;
  std::string local;
  std::string ns;
  if (!validName(text.substr(0, end)) || !resolve(text.substr(0, end), local, ns))
    return fail("an end tag that is not XML");
  if (open_.empty()) {
    if (local != "stream" || ns != kStreamNamespace) return fail("an end tag without its start");
    streamClosed_ = true;
    return Event::StreamClosed;
  }
  const Element& closing = *open_.back();
  if (closing.name != local || closing.ns != ns) return fail("an end tag that does not match");
  const int depth = static_cast<int>(open_.size());  // the closing element's
  while (!declarations_.empty() && declarations_.back().depth >= depth) declarations_.pop_back();
  open_.pop_back();
  if (!open_.empty()) return Event::None;
  stanzaBytes_ = 0;
  return Event::Stanza;
}

}  // namespace internet::xml
