#include "zntconsts.h"

#include <algorithm>
#include <array>

namespace znt {
namespace {

struct ErrorEntry {
  int code;
  int variant;
  const char* format;
};

// Sorted by code, then variant: ErrorFormat() searches it by bisection.
constexpr ErrorEntry kErrors[] = {
    {100, 0, "There is an error in the metadata for the %s %s (%s)"},
    {101, 0, "There was an error updating the %s %s (%s)"},
    {200, 0, "This operation cannot be performed on the system %s %s or any privileges granted to it"},
    {201, 0, "The %s %s cannot be dropped because it is still referenced by the %s %s"},
    {202, 0, "An error occurred with the %s %s (%s)"},
    {300, 0, "Cannot lock the %s %s for %s access"},
    {301, 0, "Cannot unlock the %s %s for %s access"},
    {400, 0, "The %s %s already exists"},
    {401, 0, "The %s %s does not exist"},
    {402, 0, "The %s %s must be open in order to perform this operation (%s)"},
    {403, 0, "The %s %s is read-only and this operation cannot be performed (%s)"},
    {404, 0, "Transaction error: %s"},
    {405, 0, "The maximum number of %ss has been reached (%s)"},
    {406, 0, "Invalid %s identifier '%s'"},
    {407, 0, "The %s %s is full (%s)"},
    {408, 0, "The %s %s cannot be open when performing this operation (%s)"},
    {409, 0, "%s"},
    {500, 0, "A user must be logged in in order to perform this operation (%s)"},
    {501, 0, "Login failed (%s)"},
    {502, 0, "Administrator privileges are required to perform this operation (%s)"},
    {503, 0, "The current user does not have the proper privileges to perform this operation (%s)"},
    {505, 0, "The %s %s cannot be started (%s)"},
    {600, 0, "File manager error (%s)"},
    {601, 0, "The %s %s is corrupt (%s)"},
    {700, 0, "An error was found in the %s at line %s and column %s (%s)"},
    {701, 0, "Debugger error (%s)"},
    {900, 0, "An error occurred with the statement at line %s and column %s (%s)"},
    {901, 0, "An error occurred with the procedure at line %s and column %s (%s)"},
    {902, 0, "An error occurred with the view %s (%s)"},
    {904, 0, "Error importing the file %s into the %s %s (%s)"},
    {905, 0, "Error exporting the %s %s to the file %s (%s)"},
    {1000, 0, "An error occurred with the cursor %s (%s)"},
    {1001, 0, "A filter error occurred (%s)"},
    {1002, 0, "A locate error occurred (%s)"},
    {1003, 0, "An error occurred in the cursor stream (%s)"},
    {1004, 0, "The %s %s in the %s %s cannot be NULL"},
    {1004, 1, "The %s %s for the %s %s has been violated (%s)"},
    {1005, 0, "Cannot lock the row in the %s %s"},
    {1006, 0, "Cannot unlock the row in the %s %s"},
    {1007, 0, "The row has been deleted since last cached for the %s %s"},
    {1008, 0, "The row has been modified since last cached for the %s %s"},
    {1009, 0, "The cursor is constrained and this row violates the current cursor constraint condition(s)"},
    {1010, 0, "The row is no longer visible in the %s %s"},
    {1011, 0, "An error occurred with the %s %s (%s)"},
    {1100, 0, "A connection to the server at '%s' cannot be established ('%s')"},
    {1101, 0, "The connection to the server at '%s' has been lost ('%s')"},
    {1102, 0, "The client connection has been lost ('%s')"},
    {1107, 0, "The session ID %s is no longer present on the server"},
    {1108, 0, "The current session ID %s cannot be disconnected or removed"},
    {1200, 0, "An error occurred while compressing data (%s)"},
    {1201, 0, "An error occurred while uncompressing data (%s)"},
    {1300, 0, "Error backing up the %s %s (%s)"},
    {1301, 0, "Error restoring the %s %s (%s)"},
    {1302, 0, "Error publishing the %s %s (%s)"},
    {1303, 0, "Error unpublishing the %s %s (%s)"},
    {1304, 0, "Error saving updates for the %s %s (%s)"},
    {1305, 0, "Error loading the updates for the %s %s (%s)"},
    {1306, 0, "Error with the %s %s (%s)"},
    {1400, 0, "Error in the format string %s (%s)"},
    {9999, 0, "%s"},
};

struct OperationEntry {
  int code;
  const char* name;
};

constexpr OperationEntry kOperations[] = {
    {0, "None"},
    {1, "Open Session"},
    {2, "Connect Session"},
    {3, "Login to Session"},
    {4, "Logout from Session"},
    {5, "Reconnect Session"},
    {6, "Disconnect Session"},
    {7, "Close Session"},
    {30, "Create Database"},
    {31, "Alter Database"},
    {32, "Drop Database"},
    {33, "Open Database"},
    {34, "Close Database"},
    {40, "Start Transaction"},
    {41, "Commit Transaction"},
    {42, "Rollback Transaction"},
    {120, "Create Table"},
    {121, "Alter Table"},
    {122, "Drop Table"},
    {123, "Open Table"},
    {124, "Repair Table"},
    {125, "Optimize Table"},
    {126, "Import Table from File"},
    {127, "Export Table to File"},
    {130, "Create View"},
    {131, "Alter View"},
    {132, "Drop View"},
    {133, "Open View"},
    {140, "Create Index"},
    {141, "Alter Index"},
    {142, "Drop Index"},
    {150, "Create Trigger"},
    {151, "Alter Trigger"},
    {152, "Drop Trigger"},
    {153, "Execute Trigger"},
    {180, "Refresh Cursor"},
    {181, "Flush Cursor"},
    {182, "Copy Cursor"},
    {183, "Empty Cursor"},
    {184, "Free Cursor"},
    {190, "Read BLOB"},
    {191, "Write BLOB"},
    {200, "Set Active Index"},
    {210, "First Row"},
    {211, "Last Row"},
    {212, "Next Row"},
    {213, "Prior Row"},
    {214, "Set to Sequence #"},
    {215, "Set to Row #"},
    {216, "Set to Row Values"},
    {217, "Set to Row Bookmark"},
    {218, "Locate Row"},
    {219, "Find Row by Key"},
    {220, "Set Range"},
    {221, "Cancel Range"},
    {222, "Create Filter"},
    {223, "Drop Filter"},
    {224, "Activate Filter"},
    {225, "Deactivate Filter"},
    {226, "Set Sequence Range"},
    {227, "Cancel Sequence Range"},
    {230, "Lock Row"},
    {231, "Unlock Row"},
    {232, "Unlock All Rows"},
    {233, "Initialize Row"},
    {234, "Get Current Row"},
    {235, "Insert Row"},
    {236, "Update Row"},
    {237, "Delete Row"},
    {238, "Cancel Row"},
    {240, "Load From Stream"},
    {241, "Save To Stream"},
    {250, "Prepare Statement"},
    {251, "Execute Statement"},
    {252, "Free Statement"},
    {260, "Prepare Procedure"},
    {261, "Execute Procedure"},
    {262, "Free Procedure"},
};

}  // namespace

const char* ErrorFormat(int code, int variant) noexcept {
  auto it = std::lower_bound(std::begin(kErrors), std::end(kErrors), std::pair{code, variant},
                             [](const ErrorEntry& e, const std::pair<int, int>& key) {
                               return e.code != key.first ? e.code < key.first
                                                          : e.variant < key.second;
                             });
  if (it == std::end(kErrors) || it->code != code || it->variant != variant) return nullptr;
  return it->format;
}

std::string_view OperationName(int code) noexcept {
  auto it = std::lower_bound(std::begin(kOperations), std::end(kOperations), code,
                             [](const OperationEntry& e, int c) { return e.code < c; });
  if (it == std::end(kOperations) || it->code != code) return "Unknown";
  return it->name;
}

}  // namespace znt
