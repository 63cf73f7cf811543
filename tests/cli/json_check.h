#pragma once
// Every JSON document the command line writes in the tests is checked against
// its schema in docs/schema by tests/cli/validate_json.py (python3-jsonschema).
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace tarnwick::testing {

// Validates the file at path against docs/schema/<schema>; lines: every line
// is a document of its own (the audit log). Skips the test when
// python3-jsonschema is missing.
inline void ExpectValidJson(const std::string& schema, const std::string& path,
                            bool lines = false) {
  std::string out;
  const int status =
      RunCommand(std::string("python3 '") + TARNWICK_SOURCE_DIR + "/tests/cli/validate_json.py' '" +
                     TARNWICK_SOURCE_DIR + "/docs/schema' " + schema + " '" + path + "'" +
                     (lines ? " --lines" : ""),
                 &out);
  if (status == 77) GTEST_SKIP() << "python3-jsonschema is missing: " << out;
  EXPECT_EQ(status, 0) << path << " against " << schema << ":\n" << out;
}

}  // namespace tarnwick::testing
