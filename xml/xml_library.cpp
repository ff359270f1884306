#include "xml/xml_library.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlIO.h>
#include <libxslt/security.h>
#include <libxslt/xsltutils.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "xml/xslt_functions.h"

namespace pelorin {
namespace {

thread_local TXmlErrorCollector* current_collector = nullptr;

void Deliver(const std::string& message) {
  // Without a collector the message is dropped: the library never writes to
  // stderr, and every caller that cares about messages installs a collector.
  if (current_collector != nullptr) current_collector->Append(message);
}

void StructuredError(void* /*context*/, xmlError* error) {
  if (error == nullptr || error->message == nullptr) return;
  std::string message;
  if (error->line > 0) {
    message = "line " + std::to_string(error->line);
    if (error->int2 > 0) message += ", column " + std::to_string(error->int2);
    message += ": ";
  }
  message += error->message;
  Deliver(message);
}

void FormattedError(void* /*context*/, const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length > 0) Deliver(buffer);
}

void InstallThreadHandlers() {
  xmlSetStructuredErrorFunc(nullptr, StructuredError);
  xmlSetGenericErrorFunc(nullptr, FormattedError);
}

}  // namespace

void InitXmlLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    // Threads created later start with these handlers; this thread gets them now.
    xmlThrDefSetStructuredErrorFunc(nullptr, StructuredError);
    xmlThrDefSetGenericErrorFunc(nullptr, FormattedError);
    InstallThreadHandlers();
    xsltSetGenericErrorFunc(nullptr, FormattedError);
    // Entities and stylesheet includes may name local files only.
    xmlSetExternalEntityLoader(xmlNoNetExternalEntityLoader);
    xsltSecurityPrefsPtr prefs = xsltNewSecurityPrefs();
    xsltSetSecurityPrefs(prefs, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
    xsltSetDefaultSecurityPrefs(prefs);  // kept for the life of the process
    RegisterXsltFunctions();
  });
}

void ReportXmlError(const std::string& message) { Deliver(message); }

TXmlErrorCollector::TXmlErrorCollector() : previous_(current_collector) {
  // A thread that existed before InitXmlLibrary (or was created by code that
  // reset the handlers) still routes its messages here.
  InstallThreadHandlers();
  current_collector = this;
}

TXmlErrorCollector::~TXmlErrorCollector() { current_collector = previous_; }

void TXmlErrorCollector::Append(const std::string& message) {
  text_ += message;
  if (text_.empty() || text_.back() != '\n') text_ += '\n';
}

}  // namespace pelorin
