// The XML of an XMPP stream (RFC 6120), read and written by the program
// itself. What a server sends is untrusted: the reader takes it a byte at a
// time, keeps no more than one stanza of it, and refuses before it builds
// anything past its bounds: a stanza's bytes, its depth, its elements and
// attributes, the length of a name. It takes the XML an XMPP server sends
// and nothing more: no document type declaration (so no entity but the
// five predefined and character references), no comment, no processing
// instruction but the declaration that may open the stream; text must be
// UTF-8. Whatever breaks a rule ends the stream with one reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace internet::xml {

// Bounds of one stanza (a child of the stream and everything inside it).
inline constexpr size_t kMaxStanzaBytes = 64 * 1024;
// Nesting: the stanza itself is level 1. An announcement needs three.
inline constexpr int kMaxDepth = 16;
inline constexpr size_t kMaxElements = 256;
inline constexpr size_t kMaxAttributes = 16;
// An element's or attribute's name, prefix included.
inline constexpr size_t kMaxNameBytes = 64;

inline constexpr char kStreamNamespace[] = "http://etherx.jabber.org/streams";

// One element with what it holds. Built by the reader within the bounds
// above, so walking it (copy, destruction, writing) recurses at most
// kMaxDepth levels.
struct Element {
  std::string name;                                             // local name, no prefix
  std::string ns;                                               // namespace name, resolved
  std::vector<std::pair<std::string, std::string>> attributes;  // as written (prefix kept)
  std::vector<Element> children;
  std::string text;  // the character data directly inside, joined

  Element() = default;
  Element(std::string elementName, std::string elementNs)
      : name(std::move(elementName)), ns(std::move(elementNs)) {}

  // The value of an attribute, or null.
  const std::string* attribute(const char* attributeName) const;
  void setAttribute(const char* attributeName, std::string value);
  // The first child of that name (and namespace, when given), or null.
  const Element* child(const char* childName, const char* childNs = nullptr) const;
  Element& addChild(Element element);
};

// Appends element as XML to out; its namespace is declared where it differs
// from parentNs (the stream's default, jabber:client, for a stanza).
void write(const Element& element, const std::string& parentNs, std::string& out);
// Text escaped for character data or an attribute value.
std::string escape(const std::string& text);

class StreamReader {
 public:
  enum class Event : uint8_t {
    None,          // nothing complete yet: feed more
    StreamOpened,  // the stream's header: stream() holds its attributes
    Stanza,        // a whole stanza: takeStanza()
    StreamClosed,  // </stream:stream>
    Error,         // a rule was broken: error() says which; sticky
  };

  // Reads from bytes[*used...length), stopping after the first event; adds
  // to *used what it consumed. Call again with the rest until None.
  Event read(const char* bytes, size_t length, size_t* used);
  Element takeStanza() { return std::move(stanza_); }
  // The stream header as an element without children.
  const Element& stream() const { return stream_; }
  const std::string& error() const { return error_; }
  // Forgets everything: a new stream starts (after TLS or the sign-in).
  void reset() { *this = StreamReader(); }

 private:
  enum class Mode : uint8_t { Text, Markup, Cdata, Failed };
  Event fail(const char* why);
  Event markup();
  Event openTag(const std::string& tag, bool selfClosing);
  Event closeTag(const std::string& tag);
  bool flushText();
  bool resolve(const std::string& qualified, std::string& local, std::string& ns) const;

  Mode mode_ = Mode::Text;
  std::string pending_;  // the markup or text being read
  char quote_ = 0;       // inside a quoted attribute value in markup
  bool declarationAllowed_ = true;
  bool streamOpen_ = false;
  bool streamClosed_ = false;
  Element stream_;
  Element stanza_;
  std::vector<Element*> open_;  // the stanza's open elements, outermost first
  // Namespace declarations in scope: prefix ("" the default) and name, with
  // the depth that declared them (0 the stream).
  struct Declaration {
    std::string prefix;
    std::string ns;
    int depth;
  };
  std::vector<Declaration> declarations_;
  size_t stanzaBytes_ = 0;
  size_t elements_ = 0;
  std::string error_;
};

}  // namespace internet::xml
