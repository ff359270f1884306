// TQuickDom: one XML document with one current-node cursor, and the
// operations through which every store is loaded, queried, edited, rendered
// and saved. No lock of its own: the owner serialises every use.
#ifndef PELORIN_XML_QUICKDOM_H_
#define PELORIN_XML_QUICKDOM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelorin {

class TXmlFragment;

// A removal joins the texts on either side of the node into one; the loader
// refuses texts of 10,000,000 characters and more, so no removal may make one
// longer than this.
inline constexpr std::size_t kMaxJoinedTextBytes = 8'000'000;

// A node of one TQuickDom's document, as read from CurrentNode. It owns
// nothing and is only meaningful for the document it was read from while that
// node is still in it.
class TNodeRef {
 public:
  TNodeRef() = default;
  explicit TNodeRef(void* node) : node_(node) {}
  void* get() const { return node_; }
  explicit operator bool() const { return node_ != nullptr; }
  friend bool operator==(TNodeRef a, TNodeRef b) { return a.node_ == b.node_; }

 private:
  void* node_ = nullptr;
};

// Statuses of GetInteger.
inline constexpr int kIntegerOk = 0;
inline constexpr int kIntegerEmpty = -1;
inline constexpr int kIntegerInvalid = -2;
inline constexpr int kIntegerNoNode = -3;

class TQuickDom {
 public:
  TQuickDom();
  ~TQuickDom();
  TQuickDom(const TQuickDom&) = delete;
  TQuickDom& operator=(const TQuickDom&) = delete;

  // Loading and saving. LoadFromFile returns 0, or -1 when the file is
  // missing, unreadable or not well-formed (the document is then empty).
  // SaveToFile replaces the file atomically and durably; it returns 0 and
  // throws std::runtime_error when the file cannot be written, leaving the
  // document and the previous file intact.
  int LoadFromFile(const std::string& path);
  // Makes this a new document: the document element of `source` (without its
  // children) holding copies of `records`, in that order. A page that shows a
  // few of one user's cards is rendered over such a document, so that it
  // costs what those cards cost. Throws std::bad_alloc when out of memory.
  void LoadSelection(const TQuickDom& source, const std::vector<TNodeRef>& records);
  // Frees the document; the compiled stylesheets are kept.
  void Clear() noexcept;
  int SaveToFile(const std::string& path);
  // The document as SaveToFile writes it (the encoded bytes of the file).
  std::string SaveToString() const;

  // Queries. An expression that cannot be parsed or evaluated, or that runs
  // past the evaluation limit, matches nothing.
  bool SelectNode(const std::string& xpath);
  bool SelectNextNode(const std::string& xpath);

  // Navigation.
  bool SelectRoot();
  bool SelectFirstChild();
  bool SelectParent();
  bool SelectSibling(const std::string& name);
  bool SelectNextSibling(const std::string& name);

  // Reading and editing at the cursor.
  std::string GetText() const;
  std::string GetSiblingText(const std::string& name);
  int32_t GetInteger(int& status) const;
  bool SetText(const std::string& text);
  bool AddChild(const std::string& name);    // throws on an invalid name
  bool AddSibling(const std::string& name);  // throws on an invalid name
  // Appends a copy of the fragment's first element as the last child of the
  // current node. On an ill-formed fragment ErrorText holds the parser's
  // messages and std::runtime_error is thrown; nothing is appended.
  int AppendFragment(const std::string& xml, std::string& ErrorText);
  // The same for a fragment parsed and checked beforehand. Throws
  // std::runtime_error when the store's file encoding cannot hold the
  // fragment's names, comments, instructions or CDATA (which, unlike text,
  // cannot be written as character references).
  void AppendFragment(const TXmlFragment& fragment);
  // Whether the store's file encoding holds every character up to `code_point`.
  bool CanHoldMarkup(char32_t code_point) const;
  // False, changing nothing, for a node without an element parent and for one
  // whose removal would join the texts beside it past kMaxJoinedTextBytes.
  bool RemoveCurrent();
  // Removes every node of the list, or none: not when one has no element
  // parent, or when the removals together would join texts past
  // kMaxJoinedTextBytes. Nodes inside another node of the list go with it.
  enum class TRemoval { Done, NotRemovable, JoinsTextsPastBound };
  TRemoval RemoveNodes(const std::vector<TNodeRef>& nodes);

  // The cursor's element name as SelectSibling matches it ("prefix:name"),
  // empty for other nodes; and whether it is a record: an element directly
  // below the document element.
  std::string CurrentName() const;
  bool CurrentIsRecord() const;

  TNodeRef CurrentNode() const;
  void SetCurrentNode(TNodeRef node);

  // Changes with every change of the document (loads and edits), so callers
  // can keep what they derived from it, such as an index, while it matches.
  uint64_t Generation() const;

  // Applies the stylesheet file to the whole document (see quickdom_transform.cpp).
  // parameters may be null. Throws std::runtime_error when the stylesheet
  // cannot be read or parsed; other failures leave result empty and fill
  // ErrorText, one message per line, each ended by CR LF.
  void Transform(const std::string& stylesheet_path, const std::vector<std::string>* parameters,
                 std::string& result, std::string& ErrorText);

  // A number that stays the same while the compiled stylesheet for that path
  // is reused, and changes when it is compiled again (its file or one it
  // includes changed); 0 when it is not kept (caching off, or no usable
  // stylesheet). Throws as Transform does when the file cannot be read.
  uint64_t StylesheetRevision(const std::string& stylesheet_path);

  // Compiled stylesheets are kept and reused until their file changes (on by
  // default); off, every Transform reads and compiles the file again.
  void SetStylesheetCaching(bool enabled);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace pelorin

#endif  // PELORIN_XML_QUICKDOM_H_
