// Every operation declared in the two boundary headers has a row in the fault matrix or an
// entry saying why its result is not checked (fault_matrix.h); the headers are read as text.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "fault_matrix.h"

namespace {

// The statements at namespace scope of a header, comments, preprocessor lines and anything
// inside braces (type and function bodies) left out, white space collapsed.
std::vector<std::string> TopLevelStatements(const std::string& path) {
  std::ifstream file(path);
  EXPECT_TRUE(file.good()) << path;
  std::string text;
  for (std::string line; std::getline(file, line);) {
    line = line.substr(0, line.find("//"));
    const std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line[first] != '#') text += line + ' ';
  }
  std::vector<std::string> statements;
  std::string current;
  int depth = 0;
  auto finish = [&] {
    current = std::regex_replace(current, std::regex(R"(\s+)"), " ");
    if (current.find_first_not_of(' ') != std::string::npos)
      statements.push_back(current.substr(current.find_first_not_of(' ')));
    current.clear();
  };
  for (char c : text) {
    if (c == '{' && depth == 0 && current.find("namespace") != std::string::npos) {
      current.clear();  // a namespace's body is still namespace scope
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      if (depth > 0 && --depth == 0) finish();
      if (depth == 0) current.clear();
    } else if (depth == 0) {
      if (c == ';') {
        finish();
      } else {
        current += c;
      }
    }
  }
  return statements;
}

// Each function declared at namespace scope of a boundary header: the name, with the first
// parameter's type added for an overloaded name.
std::set<std::string> DeclaredOperations() {
  const std::regex declaration(R"(^[\w:\s*]*?\b(\w+) ?\(([^,)]*))");
  const std::regex skipped(R"(^(using|struct|class|inline|constexpr|static_assert|enum)\b)");
  std::vector<std::pair<std::string, std::string>> found;  // name, first parameter's type
  for (const char* header : {"desktop_services.h", "audio_services.h"}) {
    for (const std::string& statement :
         TopLevelStatements(std::string(TESSIK_SOURCE_DIR) + "/platform/" + header)) {
      std::smatch match;
      if (std::regex_search(statement, skipped) ||
          !std::regex_search(statement, match, declaration))
        continue;
      std::string type = std::regex_replace(match[2].str(), std::regex(R"(\s*\w+\s*$)"), "");
      type = std::regex_replace(type, std::regex(R"(const\s|::|[*&\s])"), "");
      found.emplace_back(match[1].str(), type);
    }
  }
  std::multiset<std::string> names;
  for (const auto& [name, type] : found) names.insert(name);
  std::set<std::string> operations;
  for (const auto& [name, type] : found)
    operations.insert(names.count(name) > 1 ? name + " " + type : name);
  return operations;
}

TEST(FaultMatrix, EveryBoundaryOperationHasARowOrAReasonItsResultIsNotChecked) {
  const std::set<std::string> declared = DeclaredOperations();
  std::set<std::string> covered;
  for (const fault_matrix::Fault& row : fault_matrix::Faults())
    if (*row.operation != 0) covered.insert(row.operation);
  std::set<std::string> exempt;
  for (const auto& [operation, reason] : fault_matrix::NotChecked()) exempt.insert(operation);
  for (const std::string& operation : declared)
    EXPECT_TRUE(covered.count(operation) + exempt.count(operation) == 1)
        << operation
        << ": give it a row in the fault matrix, or an entry with the reason it is not checked";
  for (const std::string& operation : covered)
    EXPECT_TRUE(declared.count(operation)) << operation << ": no such operation declared";
  for (const std::string& operation : exempt)
    EXPECT_TRUE(declared.count(operation)) << operation << ": no such operation declared";
}

}  // namespace
