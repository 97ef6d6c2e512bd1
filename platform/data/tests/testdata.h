// Shared fixtures of the data-access tests: a small accounts-like dataset
// and an event recorder.
#pragma once

#include <string>
#include <vector>

#include "data/memdataset.h"

namespace fyn::testing {

// _ID auto-increment, _Name string 20, _Balance money, _Date date,
// _Flag boolean; rows Alpha, beta, Gamma, delta, Epsilon with ids 1 to 5.
inline void DefineAccounts(TMemoryDataSet& ds, bool with_rows = true) {
  ds.FieldDefs().Add("_ID", TFieldType::AutoInc);
  ds.FieldDefs().Add("_Name", TFieldType::String, 20);
  ds.FieldDefs().Add("_Balance", TFieldType::Fixed, 2);
  ds.FieldDefs().Add("_Date", TFieldType::Date);
  ds.FieldDefs().Add("_Flag", TFieldType::Boolean);
  if (!with_rows) return;
  const char* names[] = {"Alpha", "beta", "Gamma", "delta", "Epsilon"};
  int i = 0;
  for (const char* name : names) {
    ds.AppendRow({TVariant{}, std::string(name), TMoney::FromUnits(10 * ++i),
                  TDateTime{EncodeDate(2024, 1, i), 0}, i % 2 == 1});
  }
}

// The _Name of every row from First to Eof.
inline std::vector<std::string> NamesForward(TDataSet& ds) {
  std::vector<std::string> out;
  for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName("_Name").AsString());
  return out;
}

inline std::vector<std::string> NamesBackward(TDataSet& ds) {
  std::vector<std::string> out;
  for (ds.Last(); !ds.Bof(); ds.Prior()) out.push_back(ds.FieldByName("_Name").AsString());
  return out;
}

// Hooks every dataset event and records its name.
struct TEventLog {
  std::vector<std::string> events;

  explicit TEventLog(TDataSet& ds) : ds_(ds) { Hook(true); }
  // The dataset usually outlives the log: its last events must not reach it.
  ~TEventLog() { Hook(false); }
  TEventLog(const TEventLog&) = delete;
  TEventLog& operator=(const TEventLog&) = delete;

  std::vector<std::string> Take() {
    std::vector<std::string> out;
    out.swap(events);
    return out;
  }

 private:
  void Hook(bool on) {
    TDataSet& ds = ds_;
    auto hook = [this, on](TDataSet::TNotifyEvent& e, const char* name) {
      if (on) {
        e = [this, name](TDataSet&) { events.push_back(name); };
      } else {
        e = nullptr;
      }
    };
    hook(ds.BeforeOpen, "BeforeOpen");
    hook(ds.AfterOpen, "AfterOpen");
    hook(ds.BeforeClose, "BeforeClose");
    hook(ds.AfterClose, "AfterClose");
    hook(ds.BeforeInsert, "BeforeInsert");
    hook(ds.AfterInsert, "AfterInsert");
    hook(ds.BeforeEdit, "BeforeEdit");
    hook(ds.AfterEdit, "AfterEdit");
    hook(ds.BeforePost, "BeforePost");
    hook(ds.AfterPost, "AfterPost");
    hook(ds.BeforeCancel, "BeforeCancel");
    hook(ds.AfterCancel, "AfterCancel");
    hook(ds.BeforeDelete, "BeforeDelete");
    hook(ds.AfterDelete, "AfterDelete");
    hook(ds.BeforeScroll, "BeforeScroll");
    hook(ds.AfterScroll, "AfterScroll");
    hook(ds.OnNewRecord, "OnNewRecord");
  }
  TDataSet& ds_;
};

}  // namespace fyn::testing
