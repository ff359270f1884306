// TQuickDom::Transform: applies a stylesheet file to the whole document.
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltutils.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include "xml/quick_filter.h"
#include "xml/quickdom.h"
#include "xml/quickdom_impl.h"
#include "xml/xml_library.h"

namespace pelorin {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view NameOf(std::string_view line) { return line.substr(0, line.find('=')); }

// The value of a name is taken from the first line that carries that name in
// any letter case, so a request field shadows what the caller appends later.
std::string_view ValueFor(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    const size_t equals = line.find('=');
    if (EqualsIgnoringCase(std::string_view(line).substr(0, equals), name)) {
      return equals == std::string::npos ? std::string_view() : std::string_view(line).substr(equals + 1);
    }
  }
  return {};
}

bool IsParameterName(const std::string& name) {
  return !name.empty() && xmlValidateQName(reinterpret_cast<const xmlChar*>(name.c_str()), 0) == 0;
}

// Values become XPath strings, never expressions. A name that no stylesheet
// could declare is skipped, and a name is set once (the first line wins).
void SetParameters(xsltTransformContext* context, const std::vector<std::string>& lines) {
  std::unordered_set<std::string> done;
  for (const std::string& line : lines) {
    std::string name(NameOf(line));
    if (!IsParameterName(name) || !done.insert(name).second) continue;
    const std::string value(ValueFor(lines, name));
    xsltQuoteOneUserParam(context, reinterpret_cast<const xmlChar*>(name.c_str()),
                          reinterpret_cast<const xmlChar*>(value.c_str()));
  }
}

// Stylesheets are the installation's own files: internal entities (such as
// &nbsp; declared in the stylesheet) are allowed, the network never is.
XmlPtr<xmlDoc> ReadStylesheetDocument(const std::string& path, std::string& errors) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot read stylesheet " + path);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  const std::string bytes = std::move(buffer).str();
  TXmlErrorCollector collector;
  XmlPtr<xmlParserCtxt> parser(xmlNewParserCtxt());
  if (!parser) throw std::runtime_error("Out of memory");
  XmlPtr<xmlDoc> doc(xmlCtxtReadMemory(parser.get(), bytes.data(), static_cast<int>(bytes.size()),
                                       path.c_str(), nullptr,
                                       XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOCDATA));
  if (doc && !parser->wellFormed) doc.reset();
  errors = collector.Text();
  if (!doc) throw std::runtime_error("Stylesheet " + path + " is not well-formed: " + errors);
  return doc;
}

// Reads and compiles a stylesheet. Throws when the file cannot be read or is
// not well-formed; returns null with `errors` filled when it is well-formed
// XML but not a usable stylesheet.
XmlPtr<xsltStylesheet> CompileStylesheet(const std::string& path, std::string& errors) {
  std::string parse_messages;
  XmlPtr<xmlDoc> sheet_doc = ReadStylesheetDocument(path, parse_messages);
  TXmlErrorCollector collector;
  XmlPtr<xsltStylesheet> sheet(xsltParseStylesheetDoc(sheet_doc.get()));
  if (sheet) {
    sheet_doc.release();  // adopted by the stylesheet
  } else {
    errors = collector.Empty() ? "The stylesheet could not be compiled" : collector.Text();
  }
  return sheet;
}

bool Stamp(const std::string& path, TQuickDom::Impl::TFileStamp& stamp) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  stamp.path = path;
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.size = static_cast<uint64_t>(info.st_size);
  stamp.modified = info.st_mtim;
  return true;
}

bool Unchanged(const TQuickDom::Impl::TFileStamp& stamp) {
  TQuickDom::Impl::TFileStamp now;
  return Stamp(stamp.path, now) && now.device == stamp.device && now.inode == stamp.inode &&
         now.size == stamp.size && now.modified.tv_sec == stamp.modified.tv_sec &&
         now.modified.tv_nsec == stamp.modified.tv_nsec;
}

void AddSource(const xmlDoc* doc, std::vector<std::string>& paths) {
  if (doc == nullptr || doc->URL == nullptr) return;
  std::string path = reinterpret_cast<const char*>(doc->URL);
  if (path.compare(0, 7, "file://") == 0) path.erase(0, 7);
  paths.push_back(std::move(path));
}

// Every file a compiled stylesheet was read from: its own, its includes and
// its imports, recursively.
void CollectSources(const xsltStylesheet* sheet, std::vector<std::string>& paths) {
  for (; sheet != nullptr; sheet = sheet->next) {
    AddSource(sheet->doc, paths);
    for (const xsltDocument* included = sheet->docList; included != nullptr;
         included = included->next) {
      AddSource(included->doc, paths);
    }
    CollectSources(sheet->imports, paths);
  }
}

// The compiled stylesheet for path, from the cache while the file is
// unchanged. Throws when it cannot be read or parsed; null with `errors` when
// it is not a usable stylesheet.
xsltStylesheet* FindStylesheet(TQuickDom::Impl& impl, const std::string& path,
                               std::string& errors) {
  auto& cache = impl.stylesheets;
  TQuickDom::Impl::TFileStamp main_file;
  if (!Stamp(path, main_file)) {
    cache.erase(path);
    throw std::runtime_error("Cannot read stylesheet " + path);
  }
  auto found = cache.find(path);
  if (found != cache.end()) {
    bool fresh = true;
    for (const auto& source : found->second.sources) fresh = fresh && Unchanged(source);
    if (fresh) return found->second.sheet.get();
  }
  XmlPtr<xsltStylesheet> sheet = CompileStylesheet(path, errors);
  if (!sheet) {
    cache.erase(path);  // a broken file gives its error on every request
    return nullptr;
  }
  constexpr size_t kMaxCachedStylesheets = 64;
  if (!impl.cache_stylesheets || (found == cache.end() && cache.size() >= kMaxCachedStylesheets)) {
    // Uncached: kept alive until the next call, long enough for this transform.
    impl.uncached_stylesheet = std::move(sheet);
    return impl.uncached_stylesheet.get();
  }
  // The main file was stamped before compiling, so a change made meanwhile
  // shows on the next request; the included files are known only now.
  std::vector<std::string> paths;
  CollectSources(sheet.get(), paths);
  TQuickDom::Impl::TCachedStylesheet entry;
  entry.sources.push_back(main_file);
  for (const std::string& source : paths) {
    TQuickDom::Impl::TFileStamp stamp;
    if (source != path && Stamp(source, stamp)) entry.sources.push_back(stamp);
  }
  entry.sheet = std::move(sheet);
  entry.revision = ++impl.last_stylesheet_revision;
  auto& slot = cache[path];
  slot = std::move(entry);
  return slot.sheet.get();
}

std::string WithCrLf(const std::string& messages) {
  std::string out;
  size_t start = 0;
  while (start < messages.size()) {
    size_t end = messages.find('\n', start);
    if (end == std::string::npos) end = messages.size();
    if (end > start) {  // libxslt ends some messages with an empty line
      out.append(messages, start, end - start);
      out += "\r\n";
    }
    start = end + 1;
  }
  return out;
}

}  // namespace

void TQuickDom::Transform(const std::string& stylesheet_path,
                          const std::vector<std::string>* parameters, std::string& result,
                          std::string& ErrorText) {
  result.clear();
  ErrorText.clear();
  if (!impl_->doc) throw std::runtime_error("There is no document to transform");
  std::string compile_errors;
  xsltStylesheet* sheet = FindStylesheet(*impl_, stylesheet_path, compile_errors);
  if (sheet == nullptr) {
    // Read but not usable as a stylesheet: reported like an error while applying.
    ErrorText = WithCrLf(compile_errors);
    return;
  }

  TXmlErrorCollector errors;
  XmlPtr<xsltTransformContext> context(xsltNewTransformContext(sheet, impl_->doc.get()));
  if (!context) throw std::runtime_error("Out of memory");
  if (parameters != nullptr) SetParameters(context.get(), *parameters);
  XmlPtr<xmlDoc> output(
      xsltApplyStylesheetUser(sheet, impl_->doc.get(), nullptr, nullptr, nullptr, context.get()));
  if (!output || context->state != XSLT_STATE_OK) {
    ErrorText = WithCrLf(errors.Empty() ? "The transformation failed" : errors.Text());
    return;
  }
  TQuickFilter filter;
  filter.Collect(output.get());
  result = filter.GetResult();
}

uint64_t TQuickDom::StylesheetRevision(const std::string& stylesheet_path) {
  std::string compile_errors;
  if (FindStylesheet(*impl_, stylesheet_path, compile_errors) == nullptr) return 0;
  const auto found = impl_->stylesheets.find(stylesheet_path);
  return found == impl_->stylesheets.end() ? 0 : found->second.revision;
}

void TQuickDom::SetStylesheetCaching(bool enabled) {
  impl_->cache_stylesheets = enabled;
  impl_->stylesheets.clear();
}

}  // namespace pelorin
