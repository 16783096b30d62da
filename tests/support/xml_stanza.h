// A stanza from XML text, read by the program's own stream reader as if a
// server had sent it inside its stream (the stream's default namespace is
// jabber:client).
#pragma once

#include <string>

#include "internet/xml_stream.h"

namespace xmltest {

inline const char kStreamHeader[] =
    "<?xml version='1.0'?><stream:stream from='dir.test' version='1.0' xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams'>";

// False when the text is not one whole stanza the reader takes.
inline bool parseStanza(const std::string& xml, internet::xml::Element& stanza) {
  internet::xml::StreamReader reader;
  const std::string all = kStreamHeader + xml;
  size_t used = 0;
  using Event = internet::xml::StreamReader::Event;
  if (reader.read(all.data(), all.size(), &used) != Event::StreamOpened) return false;
  if (reader.read(all.data(), all.size(), &used) != Event::Stanza || used != all.size()) return false;
  stanza = reader.takeStanza();
  return true;
}

}  // namespace xmltest
