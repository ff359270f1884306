// Process-wide set-up of libxml2/libxslt and the routing of their messages.
// InitXmlLibrary runs once in main (and in each test binary) before any thread
// starts; TXmlErrorCollector is used on whatever thread calls into the library.
#ifndef PELORIN_XML_XML_LIBRARY_H_
#define PELORIN_XML_XML_LIBRARY_H_

#include <string>

namespace pelorin {

// Routes every library message to the collector active on the calling thread
// (never to stderr), forbids network access for entity loading, and installs
// the stylesheet security preferences (no file writes, no directories, no
// network). Safe to call more than once.
void InitXmlLibrary();

// Hands a message of our own to the collector active on this thread.
void ReportXmlError(const std::string& message);

// Collects the libxml2/libxslt messages raised on this thread while it lives.
// Collectors nest: the innermost one receives the messages.
class TXmlErrorCollector {
 public:
  TXmlErrorCollector();
  ~TXmlErrorCollector();
  TXmlErrorCollector(const TXmlErrorCollector&) = delete;
  TXmlErrorCollector& operator=(const TXmlErrorCollector&) = delete;

  // Messages in the order raised, each ending with a line feed.
  const std::string& Text() const { return text_; }
  bool Empty() const { return text_.empty(); }
  void Append(const std::string& message);
  void Clear() { text_.clear(); }

 private:
  std::string text_;
  TXmlErrorCollector* previous_;
};

}  // namespace pelorin

#endif  // PELORIN_XML_XML_LIBRARY_H_
