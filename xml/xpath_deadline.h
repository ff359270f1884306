// A time budget for one XPath evaluation, enforced by a watchdog thread shared by
// the process. Created and destroyed on the thread that evaluates; the watchdog
// starts with the first deadline and lives until the process ends.
#ifndef PELORIN_XML_XPATH_DEADLINE_H_
#define PELORIN_XML_XPATH_DEADLINE_H_

#include <libxml/xpath.h>

#include <chrono>
#include <cstdint>

namespace pelorin {

// libxml2 counts the steps of a query against the context's operation limit, but
// not the node-set merges behind axes such as following:: and preceding::, whose
// cost grows with the cube of the document: one such query over a store of a few
// thousand elements runs for minutes, with the store lock held. While a deadline
// lives, the watchdog lowers the context's limit once the budget has passed, and
// libxml2 ends the query at its next step as if the limit had been reached.
// A single merge of two very large node sets still runs to its end.
class TXPathDeadline {
 public:
  // Without a watchdog (no thread could be started) the operation limit alone
  // bounds the query.
  TXPathDeadline(xmlXPathContext* context, std::chrono::steady_clock::duration budget) noexcept;
  // After it returns the watchdog no longer touches the context, which may go.
  ~TXPathDeadline();
  TXPathDeadline(const TXPathDeadline&) = delete;
  TXPathDeadline& operator=(const TXPathDeadline&) = delete;

 private:
  std::uint64_t ticket_ = 0;  // 0 when nothing is watched
};

}  // namespace pelorin

#endif  // PELORIN_XML_XPATH_DEADLINE_H_
