// Helpers for step tests on top of TestDocument: documents written with
// namespace placeholders, their saved form, and refused node allocations.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "tests/test_document.h"

// Replaces each "@prefix@" by that prefix's URI from the namespace table,
// so test documents follow whatever namespace authorities the build uses.
std::string with_namespaces(const std::string &text);

// with_namespaces(text) as the tool saves it: blank text stripped,
// re-indented. Empty when it does not parse.
std::string normalised(const std::string &text);

// Makes the next `count` libxml2 allocations of an xmlNode fail while it
// lives, to reach the steps' "cannot create" paths. libxml2's own report
// of each refusal is silenced meanwhile.
class FailNodeAllocations {
public:
  explicit FailNodeAllocations(int count);
  ~FailNodeAllocations();
  FailNodeAllocations(const FailNodeAllocations &) = delete;
  FailNodeAllocations &operator=(const FailNodeAllocations &) = delete;
};

// A table-driven edit: a document before and after the step, each written
// as the inside of <config>.
struct EditCase {
  const char *name;
  const char *input;
  const char *expected;
};

inline void PrintTo(const EditCase &c, std::ostream *out) { *out << c.name; }

// `inner` wrapped in the root element of the configuration store.
inline std::string config(const char *inner) {
  return std::string("<config xmlns='@config@'>") + inner + "</config>";
}

// A step test: load() installs a document in the run state, saved() gives
// the bytes the tool would write, log_ holds every line logged meanwhile.
class StepTest : public testing::Test {
protected:
  void load(const std::string &text) {
    document_.emplace(with_namespaces(text));
    ASSERT_TRUE(document_->parsed()) << text;
  }
  std::string saved() const { return document_->save(); }

  LogCapture log_;
  std::optional<TestDocument> document_;
};
