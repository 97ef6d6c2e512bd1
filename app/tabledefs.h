// The SQL text from which the program creates its four tables on first start:
// per table, CREATE TABLE, its CREATE INDEX statements, the insert trigger and
// the update trigger, each ending with the statement separator. Lines are
// Windows-1252 bytes, kept exactly as the banks of the data module hold them.
#pragma once

#include <string>
#include <vector>

namespace fyn {

const std::vector<std::string>& DefAnalysisCodesLines();
const std::vector<std::string>& DefAccountsLines();
const std::vector<std::string>& DefTransactionsLines();
const std::vector<std::string>& DefRepeatsLines();

}  // namespace fyn
