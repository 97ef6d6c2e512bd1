// Engine-wide constants: the version, the error codes with their message
// formats, and the operation codes with which failures are logged.
#pragma once

#include <cstdint>
#include <string_view>

namespace znt {

inline constexpr std::string_view kEngineVersionText = "2.02 Build 10";
inline constexpr std::string_view kEngineVersionNumberText = "2.02";
inline constexpr std::string_view kEngineBuildText = "10";
inline constexpr int64_t kEngineVersion = 20200;  // 2.02 x 10000
inline constexpr int32_t kEngineBuild = 10;
inline constexpr std::string_view kEngineProductType = "ZNTVCLSTD";

// Error codes. The message format of each is returned by ErrorFormat().
namespace err {
inline constexpr int Metadata = 100;
inline constexpr int Update = 101;
inline constexpr int SystemObject = 200;
inline constexpr int StillReferenced = 201;
inline constexpr int Module = 202;
inline constexpr int Lock = 300;
inline constexpr int Unlock = 301;
inline constexpr int AlreadyExists = 400;
inline constexpr int DoesNotExist = 401;
inline constexpr int MustBeOpen = 402;
inline constexpr int ReadOnly = 403;
inline constexpr int Transaction = 404;
inline constexpr int MaximumReached = 405;
inline constexpr int InvalidIdentifier = 406;
inline constexpr int Full = 407;
inline constexpr int CannotBeOpen = 408;
inline constexpr int Configuration = 409;
inline constexpr int NotLoggedIn = 500;
inline constexpr int LoginFailed = 501;
inline constexpr int AdminRequired = 502;
inline constexpr int NoPrivileges = 503;
inline constexpr int CannotStart = 505;
inline constexpr int FileManager = 600;
inline constexpr int Corrupt = 601;
inline constexpr int Compile = 700;
inline constexpr int Debugger = 701;
inline constexpr int Statement = 900;
inline constexpr int Procedure = 901;
inline constexpr int View = 902;
inline constexpr int Import = 904;
inline constexpr int Export = 905;
inline constexpr int Cursor = 1000;
inline constexpr int Filter = 1001;
inline constexpr int Locate = 1002;
inline constexpr int CursorStream = 1003;
inline constexpr int Constraint = 1004;  // variant 0: NOT NULL, variant 1: violated
inline constexpr int RowLock = 1005;
inline constexpr int RowUnlock = 1006;
inline constexpr int RowDeleted = 1007;
inline constexpr int RowModified = 1008;
inline constexpr int CursorConstraint = 1009;
inline constexpr int RowNotVisible = 1010;
inline constexpr int Value = 1011;
inline constexpr int Connect = 1100;
inline constexpr int ConnectionLost = 1101;
inline constexpr int ClientConnectionLost = 1102;
inline constexpr int SessionNotPresent = 1107;
inline constexpr int SessionNotRemovable = 1108;
inline constexpr int Compress = 1200;
inline constexpr int Uncompress = 1201;
inline constexpr int Backup = 1300;
inline constexpr int Restore = 1301;
inline constexpr int Publish = 1302;
inline constexpr int Unpublish = 1303;
inline constexpr int SaveUpdates = 1304;
inline constexpr int LoadUpdates = 1305;
inline constexpr int Store = 1306;
inline constexpr int FormatString = 1400;
inline constexpr int NonEngine = 9999;
}  // namespace err

// Detail texts shared by several raisers of the same error.
namespace detail {
// Error 100, in the order table and metadata files check them.
inline constexpr const char* kEncryptionStatus =
    "The encryption status does not match the encryption status in the configuration or catalog";
inline constexpr const char* kEncryptionPassword =
    "The encryption password does not match the default or current engine encryption password";
inline constexpr const char* kCharacterSet =
    "The character set does not match the character set in use by the engine";
inline constexpr const char* kSignature =
    "The signature does not match the default or current engine signature";
inline constexpr const char* kInternalVersion =
    "The internal version does not match the version in the configuration or catalog";
inline constexpr const char* kRepairRequired =
    "A write operation did not complete and a repair is required";
inline constexpr const char* kNewerVersion =
    "The object has been updated by a newer version of the engine";
// Error 101.
inline constexpr const char* kFileReadOnly = "The file is read-only";
}  // namespace detail

// The message format of `code` (variant 0 or, for 1004, 1); nullptr when the
// code or variant is not in the table.
const char* ErrorFormat(int code, int variant = 0) noexcept;

// Operation codes, written to the log with every failing operation.
namespace op {
inline constexpr int None = 0;
inline constexpr int OpenSession = 1;
inline constexpr int ConnectSession = 2;
inline constexpr int Login = 3;
inline constexpr int Logout = 4;
inline constexpr int ReconnectSession = 5;
inline constexpr int DisconnectSession = 6;
inline constexpr int CloseSession = 7;
inline constexpr int CreateDatabase = 30;
inline constexpr int AlterDatabase = 31;
inline constexpr int DropDatabase = 32;
inline constexpr int OpenDatabase = 33;
inline constexpr int CloseDatabase = 34;
inline constexpr int StartTransaction = 40;
inline constexpr int CommitTransaction = 41;
inline constexpr int RollbackTransaction = 42;
inline constexpr int CreateTable = 120;
inline constexpr int AlterTable = 121;
inline constexpr int DropTable = 122;
inline constexpr int OpenTable = 123;
inline constexpr int RepairTable = 124;
inline constexpr int OptimizeTable = 125;
inline constexpr int ImportTable = 126;
inline constexpr int ExportTable = 127;
inline constexpr int CreateView = 130;
inline constexpr int AlterView = 131;
inline constexpr int DropView = 132;
inline constexpr int OpenView = 133;
inline constexpr int CreateIndex = 140;
inline constexpr int AlterIndex = 141;
inline constexpr int DropIndex = 142;
inline constexpr int CreateTrigger = 150;
inline constexpr int AlterTrigger = 151;
inline constexpr int DropTrigger = 152;
inline constexpr int ExecuteTrigger = 153;
inline constexpr int RefreshCursor = 180;
inline constexpr int FlushCursor = 181;
inline constexpr int CopyCursor = 182;
inline constexpr int EmptyCursor = 183;
inline constexpr int FreeCursor = 184;
inline constexpr int ReadBlob = 190;
inline constexpr int WriteBlob = 191;
inline constexpr int SetActiveIndex = 200;
inline constexpr int FirstRow = 210;
inline constexpr int LastRow = 211;
inline constexpr int NextRow = 212;
inline constexpr int PriorRow = 213;
inline constexpr int SetToSequence = 214;
inline constexpr int SetToRow = 215;
inline constexpr int SetToRowValues = 216;
inline constexpr int SetToRowBookmark = 217;
inline constexpr int LocateRow = 218;
inline constexpr int FindRowByKey = 219;
inline constexpr int SetRange = 220;
inline constexpr int CancelRange = 221;
inline constexpr int CreateFilter = 222;
inline constexpr int DropFilter = 223;
inline constexpr int ActivateFilter = 224;
inline constexpr int DeactivateFilter = 225;
inline constexpr int SetSequenceRange = 226;
inline constexpr int CancelSequenceRange = 227;
inline constexpr int LockRow = 230;
inline constexpr int UnlockRow = 231;
inline constexpr int UnlockAllRows = 232;
inline constexpr int InitializeRow = 233;
inline constexpr int GetCurrentRow = 234;
inline constexpr int InsertRow = 235;
inline constexpr int UpdateRow = 236;
inline constexpr int DeleteRow = 237;
inline constexpr int CancelRow = 238;
inline constexpr int LoadFromStream = 240;
inline constexpr int SaveToStream = 241;
inline constexpr int PrepareStatement = 250;
inline constexpr int ExecuteStatement = 251;
inline constexpr int FreeStatement = 252;
inline constexpr int PrepareProcedure = 260;
inline constexpr int ExecuteProcedure = 261;
inline constexpr int FreeProcedure = 262;
}  // namespace op

// The name of an operation code ("Open Table" for 123). The numbered ranges
// that belong to facilities this engine does not carry (stores, backup,
// users, jobs, server queries, scripts ...) have no names of their own and
// answer "Unknown".
std::string_view OperationName(int code) noexcept;

}  // namespace znt
