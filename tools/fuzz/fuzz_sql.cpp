// Feeds arbitrary text through parameter substitution, the parser, the
// binder and the renderer. Anything but an engine error is a crash; so is a
// rendered tree that does not parse back to the same text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/znterror.h"
#include "sql/zntbind.h"
#include "sql/zntscanner.h"

namespace {

using namespace znt;

TZNTMemoryBindCatalog& Catalog() {
  static TZNTMemoryBindCatalog* catalog = [] {
    auto* c = new TZNTMemoryBindCatalog;
    const TZNTDataType integer = TZNTDataType::Of(TZNTTypeCode::Integer);
    const TZNTDataType money = TZNTDataType::Decimal(2);
    const TZNTDataType date = TZNTDataType::Of(TZNTTypeCode::Date);
    auto text = [](int n) { return TZNTDataType::VarChar(n, kCollationANSI_CI); };
    auto& a = c->AddTable("Accounts");
    for (TZNTBindColumn col : {TZNTBindColumn{"__RowID", integer, true}, {"_ID", integer},
                               {"_AccNo", text(30)}, {"_Name", text(50)}, {"_Type", text(15)},
                               {"_Adjustor", integer}, {"_Balance", money}, {"_BalanceDate", date},
                               {"_UnReconciledTransactions", money}})
      a.AddColumn(col);
    auto& t = c->AddTable("Transactions");
    for (TZNTBindColumn col :
         {TZNTBindColumn{"__RowID", integer, true}, {"_ID", integer}, {"_fkAccounts", integer},
          {"_Type", text(10)}, {"_Name", text(50), false, true}, {"_Date", date},
          {"_Income", money}, {"_Expenditure", money}, {"_Analysis", text(20)},
          {"_Reconciled", TZNTDataType::Of(TZNTTypeCode::Boolean)}})
      t.AddColumn(col);
    auto& tables = c->AddTable("Tables", "Information");
    tables.AddColumn({"Name", TZNTDataType::VarChar(40)});
    return c;
  }();
  return *catalog;
}

std::string Render(std::string_view sql) {
  TZNTExprParser parser(sql, "statement");
  TZNTNodePtr root = parser.ParseStatement();
  return TZNTExprBuilder().Render(*root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string sql(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> names;
  std::string substituted = SubstituteNamedParameters(sql, names);
  std::string rendered;
  try {
    TZNTExprParser parser(substituted, "statement");
    TZNTNodePtr root = parser.ParseStatement();
    rendered = TZNTExprBuilder().Render(*root);
    BindTree(*root, Catalog(), TZNTBindContext{});
  } catch (const EZNTException&) {
    if (rendered.empty()) return 0;
  }
  if (!rendered.empty()) {
    // What parsed once must parse again from its rendering, to the same text.
    std::string again;
    try {
      again = Render(rendered);
    } catch (const EZNTException& e) {
      std::fprintf(stderr, "rendering does not parse: %s\n%s\n", e.what(), rendered.c_str());
      std::abort();
    }
    if (again != rendered) {
      std::fprintf(stderr, "rendering is not stable:\n%s\n%s\n", rendered.c_str(), again.c_str());
      std::abort();
    }
  }
  return 0;
}
