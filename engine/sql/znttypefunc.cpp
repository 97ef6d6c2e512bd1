#include "sql/znttypefunc.h"

#include <locale.h>
#include <wchar.h>

#include <array>
#include <mutex>

#include "base/zntstring.h"

namespace znt {
namespace {

// ---------------------------------------------------------------------------
// Locale table
// ---------------------------------------------------------------------------

// A locale the engine can name: its Windows identifier (with the sort ID in
// bits 16 to 19 for alternative sorts), its abbreviation, its description and
// the C-library locale that supplies its order.
struct TLocaleEntry {
  uint32_t lcid;
  const char* name;
  const char* description;
  const char* posix;
};

// German phone-book order sorts a, o and u with umlaut as ae, oe and ue.
constexpr uint32_t kGermanPhoneBook = 0x10407;

// The C library offers no list of installed locales short of reading its
// archive, so the engine keeps the locales it knows by name here and asks
// newlocale() whether each one is present.
constexpr TLocaleEntry kLocales[] = {
    {0x0436, "AFK", "Afrikaans (South Africa)", "af_ZA.UTF-8"},
    {0x041C, "SQI", "Albanian (Albania)", "sq_AL.UTF-8"},
    {0x0401, "ARA", "Arabic (Saudi Arabia)", "ar_SA.UTF-8"},
    {0x042C, "AZEL", "Azeri (Latin) (Azerbaijan)", "az_AZ.UTF-8"},
    {0x042D, "EUQ", "Basque (Spain)", "eu_ES.UTF-8"},
    {0x0423, "BEL", "Belarusian (Belarus)", "be_BY.UTF-8"},
    {0x0402, "BGR", "Bulgarian (Bulgaria)", "bg_BG.UTF-8"},
    {0x0403, "CAT", "Catalan (Spain)", "ca_ES.UTF-8"},
    {0x0804, "CHS", "Chinese (PRC)", "zh_CN.UTF-8"},
    {0x0404, "CHT", "Chinese (Taiwan)", "zh_TW.UTF-8"},
    {0x041A, "HRV", "Croatian (Croatia)", "hr_HR.UTF-8"},
    {0x0405, "CSY", "Czech (Czech Republic)", "cs_CZ.UTF-8"},
    {0x0406, "DAN", "Danish (Denmark)", "da_DK.UTF-8"},
    {0x0413, "NLD", "Dutch (Netherlands)", "nl_NL.UTF-8"},
    {0x0813, "NLB", "Dutch (Belgium)", "nl_BE.UTF-8"},
    {0x0409, "ENU", "English (United States)", "en_US.UTF-8"},
    {0x0809, "ENG", "English (United Kingdom)", "en_GB.UTF-8"},
    {0x0C09, "ENA", "English (Australia)", "en_AU.UTF-8"},
    {0x1009, "ENC", "English (Canada)", "en_CA.UTF-8"},
    {0x1409, "ENZ", "English (New Zealand)", "en_NZ.UTF-8"},
    {0x1809, "ENI", "English (Ireland)", "en_IE.UTF-8"},
    {0x1C09, "ENS", "English (South Africa)", "en_ZA.UTF-8"},
    {0x0425, "ETI", "Estonian (Estonia)", "et_EE.UTF-8"},
    {0x0438, "FOS", "Faroese (Faroe Islands)", "fo_FO.UTF-8"},
    {0x040B, "FIN", "Finnish (Finland)", "fi_FI.UTF-8"},
    {0x040C, "FRA", "French (France)", "fr_FR.UTF-8"},
    {0x080C, "FRB", "French (Belgium)", "fr_BE.UTF-8"},
    {0x0C0C, "FRC", "French (Canada)", "fr_CA.UTF-8"},
    {0x100C, "FRS", "French (Switzerland)", "fr_CH.UTF-8"},
    {0x140C, "FRL", "French (Luxembourg)", "fr_LU.UTF-8"},
    {0x0407, "DEU", "German (Germany)", "de_DE.UTF-8"},
    {kGermanPhoneBook, "DEP", "German (German Phone Book)", "de_DE.UTF-8"},
    {0x0807, "DES", "German (Switzerland)", "de_CH.UTF-8"},
    {0x0C07, "DEA", "German (Austria)", "de_AT.UTF-8"},
    {0x1007, "DEL", "German (Luxembourg)", "de_LU.UTF-8"},
    {0x0408, "ELL", "Greek (Greece)", "el_GR.UTF-8"},
    {0x040D, "HEB", "Hebrew (Israel)", "he_IL.UTF-8"},
    {0x040E, "HUN", "Hungarian (Hungary)", "hu_HU.UTF-8"},
    {0x040F, "ISL", "Icelandic (Iceland)", "is_IS.UTF-8"},
    {0x0421, "IND", "Indonesian (Indonesia)", "id_ID.UTF-8"},
    {0x0410, "ITA", "Italian (Italy)", "it_IT.UTF-8"},
    {0x0810, "ITS", "Italian (Switzerland)", "it_CH.UTF-8"},
    {0x0411, "JPN", "Japanese (Japan)", "ja_JP.UTF-8"},
    {0x0412, "KOR", "Korean (Korea)", "ko_KR.UTF-8"},
    {0x0426, "LVI", "Latvian (Latvia)", "lv_LV.UTF-8"},
    {0x0427, "LTH", "Lithuanian (Lithuania)", "lt_LT.UTF-8"},
    {0x0414, "NOR", "Norwegian (Bokmal) (Norway)", "nb_NO.UTF-8"},
    {0x0814, "NON", "Norwegian (Nynorsk) (Norway)", "nn_NO.UTF-8"},
    {0x0415, "PLK", "Polish (Poland)", "pl_PL.UTF-8"},
    {0x0416, "PTB", "Portuguese (Brazil)", "pt_BR.UTF-8"},
    {0x0816, "PTG", "Portuguese (Portugal)", "pt_PT.UTF-8"},
    {0x0418, "ROM", "Romanian (Romania)", "ro_RO.UTF-8"},
    {0x0419, "RUS", "Russian (Russia)", "ru_RU.UTF-8"},
    {0x0C1A, "SRB", "Serbian (Cyrillic) (Serbia)", "sr_RS.UTF-8"},
    {0x081A, "SRL", "Serbian (Latin) (Serbia)", "sr_RS.UTF-8@latin"},
    {0x041B, "SKY", "Slovak (Slovakia)", "sk_SK.UTF-8"},
    {0x0424, "SLV", "Slovenian (Slovenia)", "sl_SI.UTF-8"},
    {0x0C0A, "ESN", "Spanish (Modern Sort) (Spain)", "es_ES.UTF-8"},
    {0x080A, "ESM", "Spanish (Mexico)", "es_MX.UTF-8"},
    {0x041D, "SVE", "Swedish (Sweden)", "sv_SE.UTF-8"},
    {0x081D, "SVF", "Swedish (Finland)", "sv_FI.UTF-8"},
    {0x041E, "THA", "Thai (Thailand)", "th_TH.UTF-8"},
    {0x041F, "TRK", "Turkish (Turkey)", "tr_TR.UTF-8"},
    {0x0422, "UKR", "Ukrainian (Ukraine)", "uk_UA.UTF-8"},
    {0x0443, "UZBL", "Uzbek (Latin) (Uzbekistan)", "uz_UZ.UTF-8"},
    {0x0843, "UZBC", "Uzbek (Cyrillic) (Uzbekistan)", "uz_UZ.UTF-8@cyrillic"},
    {0x042A, "VIT", "Vietnamese (Vietnam)", "vi_VN.UTF-8"},
};
constexpr size_t kLocaleCount = sizeof kLocales / sizeof kLocales[0];

const TLocaleEntry* FindLocale(uint32_t lcid) noexcept {
  for (const TLocaleEntry& e : kLocales)
    if (e.lcid == lcid) return &e;
  return nullptr;
}

// C-library locales are created on first use and kept for the process.
struct TLocaleSlot {
  std::once_flag once;
  locale_t loc = nullptr;
};

locale_t InstalledLocale(const TLocaleEntry& e) {
  static std::array<TLocaleSlot, kLocaleCount> slots;
  TLocaleSlot& slot = slots[static_cast<size_t>(&e - kLocales)];
  std::call_once(slot.once, [&] { slot.loc = newlocale(LC_COLLATE_MASK, e.posix, nullptr); });
  return slot.loc;
}

// Code-point order, for locales that are not installed here.
locale_t FallbackLocale() {
  static locale_t loc = newlocale(LC_COLLATE_MASK, "C", nullptr);
  return loc;
}

// Windows-1252 to Unicode; 0x80 to 0x9F hold the characters that differ
// from Latin-1 (the five unassigned codes keep their own value).
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

wchar_t Widen(unsigned char c) noexcept {
  return c >= 0x80 && c < 0xA0 ? static_cast<wchar_t>(kHighControls[c - 0x80])
                               : static_cast<wchar_t>(c);
}

// The letter without its accent for the accented letters of Windows-1252;
// letters such as the Danish O with stroke are letters of their own.
constexpr std::array<unsigned char, 256> MakeUnaccented() {
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c);
  const char* upper = "AAAAAA?CEEEEIIII?NOOOOO??UUUUY??";  // 0xC0 to 0xDF
  for (int c = 0; c < 32; ++c) {
    if (upper[c] != '?') t[0xC0 + c] = static_cast<unsigned char>(upper[c]);
    if (upper[c] != '?') t[0xE0 + c] = static_cast<unsigned char>(upper[c] + 32);
  }
  t[0xFF] = 'y';
  t[0x8A] = 'S';
  t[0x9A] = 's';
  t[0x8E] = 'Z';
  t[0x9E] = 'z';
  t[0x9F] = 'Y';
  return t;
}
constexpr std::array<unsigned char, 256> kUnaccented = MakeUnaccented();

// Builds the wide text a locale comparison works on: the first `limit`
// characters, with phone-book expansion, case and accents folded as asked.
void Prepare(std::string_view s, size_t limit, uint32_t collation, std::wstring& out) {
  const bool phoneBook = (collation & ~kCollationFlags) == kGermanPhoneBook;
  const bool noCase = collation & kCollationCaseInsensitive;
  const bool noAccent = collation & kCollationAccentInsensitive;
  if (s.size() > limit) s = s.substr(0, limit);
  out.clear();
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    unsigned char expanded = 0;
    if (phoneBook) {
      switch (c) {
        case 0xC4:
          c = 'A';
          expanded = 'e';
          break;
        case 0xD6:
          c = 'O';
          expanded = 'e';
          break;
        case 0xDC:
          c = 'U';
          expanded = 'e';
          break;
        case 0xE4:
          c = 'a';
          expanded = 'e';
          break;
        case 0xF6:
          c = 'o';
          expanded = 'e';
          break;
        case 0xFC:
          c = 'u';
          expanded = 'e';
          break;
        default:
          break;
      }
    }
    for (unsigned char x : {c, expanded}) {
      if (x == 0) continue;
      if (noAccent) x = kUnaccented[x];
      if (noCase) x = ZNTUpperChar(x);
      out.push_back(Widen(x));
    }
  }
}

int CompareInLocale(std::string_view a, std::string_view b, uint32_t collation, size_t limit) {
  const TLocaleEntry* entry = FindLocale(collation & ~kCollationFlags);
  locale_t loc = entry ? InstalledLocale(*entry) : nullptr;
  if (!loc) loc = FallbackLocale();
  // Per-thread buffers keep repeated comparisons (sorts, index walks) from
  // allocating.
  thread_local std::wstring wa, wb;
  Prepare(a, limit, collation, wa);
  Prepare(b, limit, collation, wb);
  int c = loc ? wcscoll_l(wa.c_str(), wb.c_str(), loc) : wa.compare(wb);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Removes every occurrence of `suffix` from `s`, ignoring case; true when
// there was one.
bool RemoveSuffix(std::string& s, std::string_view suffix) {
  bool found = false;
  for (size_t i = 0; i + suffix.size() <= s.size();) {
    if (ZNTSameText(std::string_view(s).substr(i, suffix.size()), suffix)) {
      s.erase(i, suffix.size());
      found = true;
    } else {
      ++i;
    }
  }
  return found;
}

constexpr struct {
  const char* suffix;
  uint32_t flag;
} kCollationSuffixes[] = {{"_CI", kCollationCaseInsensitive},
                          {"_AI", kCollationAccentInsensitive},
                          {"_KI", kCollationKanaInsensitive},
                          {"_WI", kCollationWidthInsensitive}};

// ---------------------------------------------------------------------------
// Type classes and the type lists of the error messages
// ---------------------------------------------------------------------------

using TList = std::vector<TZNTDataType>;

bool IsCharCode(const TZNTDataType& t) noexcept { return t.code == TZNTTypeCode::Char; }
bool IsClob(const TZNTDataType& t) noexcept {
  return t.code == TZNTTypeCode::Blob && t.subtype == kSubtypeClob;
}
bool IsBlob(const TZNTDataType& t) noexcept {
  return t.code == TZNTTypeCode::Blob && t.subtype != kSubtypeClob;
}
bool Is(const TZNTDataType& t, TZNTTypeCode code) noexcept { return t.code == code; }
bool IsYearMonth(const TZNTDataType& t) noexcept {
  return t.code == TZNTTypeCode::YearMonthInterval;
}
bool IsDayTime(const TZNTDataType& t) noexcept { return t.code == TZNTTypeCode::DayTimeInterval; }
bool IsSingleField(const TZNTDataType& t) noexcept {
  if (IsYearMonth(t)) return t.subtype == kIntervalYear || t.subtype == kIntervalMonth;
  return IsDayTime(t) && t.subtype != 0 && (t.subtype & (t.subtype - 1)) == 0;
}
bool HasDay(const TZNTDataType& t) noexcept { return IsDayTime(t) && (t.subtype & kIntervalDay); }
bool HasTimeField(const TZNTDataType& t) noexcept {
  return IsDayTime(t) &&
         (t.subtype & (kIntervalHour | kIntervalMinute | kIntervalSecond | kIntervalMSecond));
}
bool IsDayOnly(const TZNTDataType& t) noexcept { return IsDayTime(t) && t.subtype == kIntervalDay; }

TZNTDataType YM(uint8_t subtype) {
  return TZNTDataType::Interval(TZNTTypeCode::YearMonthInterval, subtype);
}
TZNTDataType DT(uint8_t subtype) {
  return TZNTDataType::Interval(TZNTTypeCode::DayTimeInterval, subtype);
}
// The day-time qualifier from field bit `first` down to field bit `last`.
uint8_t Fields(uint8_t first, uint8_t last) {
  uint8_t bits = 0;
  for (unsigned b = first; b >= last; b >>= 1) bits = static_cast<uint8_t>(bits | b);
  return bits;
}

TList Join(std::initializer_list<const TList*> parts) {
  TList all;
  for (const TList* p : parts) all.insert(all.end(), p->begin(), p->end());
  return all;
}

const TList kCharacter = {TZNTDataType::FixedChar(0), TZNTDataType::Guid(),
                          TZNTDataType::VarChar(0), TZNTDataType::Clob()};
const TList kBytes = {TZNTDataType::FixedByte(0), TZNTDataType::VarByte(0), TZNTDataType::Blob()};
const TList kBoolean = {TZNTDataType::Of(TZNTTypeCode::Boolean)};
const TList kIntegers = {TZNTDataType::Of(TZNTTypeCode::SmallInt),
                         TZNTDataType::Of(TZNTTypeCode::Integer),
                         TZNTDataType::Of(TZNTTypeCode::BigInt)};
const TList kFloatDecimal = {TZNTDataType::Of(TZNTTypeCode::Float), TZNTDataType::Decimal(0)};
const TList kNumbers = Join({&kIntegers, &kFloatDecimal});
const TList kDate = {TZNTDataType::Of(TZNTTypeCode::Date)};
const TList kTime = {TZNTDataType::Of(TZNTTypeCode::Time)};
const TList kTimestamp = {TZNTDataType::Of(TZNTTypeCode::Timestamp)};
const TList kYearMonth = {YM(kIntervalYear), YM(kIntervalYearToMonth), YM(kIntervalMonth)};
const TList kDayTimeNoDay = {DT(kIntervalHour),
                             DT(Fields(kIntervalHour, kIntervalMinute)),
                             DT(Fields(kIntervalHour, kIntervalSecond)),
                             DT(Fields(kIntervalHour, kIntervalMSecond)),
                             DT(kIntervalMinute),
                             DT(Fields(kIntervalMinute, kIntervalSecond)),
                             DT(Fields(kIntervalMinute, kIntervalMSecond)),
                             DT(kIntervalSecond),
                             DT(Fields(kIntervalSecond, kIntervalMSecond)),
                             DT(kIntervalMSecond)};
const TList kDayTimeWithDay = {DT(kIntervalDay), DT(Fields(kIntervalDay, kIntervalHour)),
                               DT(Fields(kIntervalDay, kIntervalMinute)),
                               DT(Fields(kIntervalDay, kIntervalSecond)),
                               DT(Fields(kIntervalDay, kIntervalMSecond))};
const TList kDayTime = Join({&kDayTimeWithDay, &kDayTimeNoDay});
const TList kIntervals = Join({&kYearMonth, &kDayTime});
const TList kSingleField = {YM(kIntervalYear),   YM(kIntervalMonth),  DT(kIntervalDay),
                            DT(kIntervalHour),   DT(kIntervalMinute), DT(kIntervalSecond),
                            DT(kIntervalMSecond)};
const TList kDateTimes = Join({&kDate, &kTime, &kTimestamp});
const TList kAll = Join({&kCharacter, &kBytes, &kBoolean, &kNumbers, &kDateTimes, &kIntervals});
const TList kOrderable = Join({&kCharacter, &kBytes, &kNumbers, &kDateTimes, &kIntervals});

TZNTTyping Accept(const TZNTDataType& type) {
  TZNTTyping r;
  r.ok = true;
  r.type = type;
  return r;
}

TZNTTyping Refuse(int operand, TList expected) {
  TZNTTyping r;
  r.refusedOperand = operand;
  r.expected = std::move(expected);
  return r;
}

const TZNTDataType kBooleanResult = TZNTDataType::Of(TZNTTypeCode::Boolean);

// The type of an arithmetic result of two numbers: FLOAT when either is,
// else DECIMAL with the larger scale when either is, else BIGINT or INTEGER.
TZNTDataType NumberResult(const TZNTDataType& l, const TZNTDataType& r) {
  if (Is(l, TZNTTypeCode::Float) || Is(r, TZNTTypeCode::Float))
    return TZNTDataType::Of(TZNTTypeCode::Float);
  if (Is(l, TZNTTypeCode::Decimal) || Is(r, TZNTTypeCode::Decimal)) {
    int ls = Is(l, TZNTTypeCode::Decimal) ? l.scale : 0;
    int rs = Is(r, TZNTTypeCode::Decimal) ? r.scale : 0;
    return TZNTDataType::Decimal(ls > rs ? ls : rs);
  }
  if (Is(l, TZNTTypeCode::BigInt) || Is(r, TZNTTypeCode::BigInt))
    return TZNTDataType::Of(TZNTTypeCode::BigInt);
  return TZNTDataType::Of(TZNTTypeCode::Integer);
}

// Intervals of the left's kind, and the integer types when it has one field.
TList IntervalPartners(const TZNTDataType& l) {
  const TList& kind = IsYearMonth(l) ? kYearMonth : kDayTime;
  return IsSingleField(l) ? Join({&kIntegers, &kind}) : kind;
}

TZNTTyping TypeAdd(const TZNTDataType& l, const TZNTDataType& r) {
  if (IsCharCode(l)) {
    if (IsClob(r)) return Accept(TZNTDataType::Clob(l.collation));
    if (!IsCharCode(r)) return Refuse(2, kCharacter);
    const bool fixed = l.subtype == kSubtypeFixed && r.subtype == kSubtypeFixed;
    return Accept(fixed ? TZNTDataType::FixedChar(l.size + r.size, l.collation)
                        : TZNTDataType::VarChar(l.size + r.size, l.collation));
  }
  if (IsClob(l)) {
    if (!r.IsCharacter()) return Refuse(2, kCharacter);
    return Accept(TZNTDataType::Clob(l.collation));
  }
  if (l.IsBytes()) {
    if (!r.IsBytes()) return Refuse(2, kBytes);
    if (IsBlob(l) || IsBlob(r)) return Accept(TZNTDataType::Blob());
    const bool fixed = l.subtype == kSubtypeFixed && r.subtype == kSubtypeFixed;
    return Accept(fixed ? TZNTDataType::FixedByte(l.size + r.size)
                        : TZNTDataType::VarByte(l.size + r.size));
  }
  if (l.IsInteger()) {
    if (r.IsNumber()) return Accept(NumberResult(l, r));
    if (IsSingleField(r)) return Accept(r);
    return Refuse(2, Join({&kNumbers, &kSingleField}));
  }
  if (l.IsNumber()) {
    if (r.IsNumber()) return Accept(NumberResult(l, r));
    return Refuse(2, kNumbers);
  }
  if (Is(l, TZNTTypeCode::Date)) {
    if (IsYearMonth(r)) return Accept(l);
    if (IsDayTime(r))
      return Accept(HasTimeField(r) ? TZNTDataType::Of(TZNTTypeCode::Timestamp) : l);
    return Refuse(2, kIntervals);
  }
  if (Is(l, TZNTTypeCode::Timestamp)) {
    if (r.IsInterval()) return Accept(l);
    return Refuse(2, kIntervals);
  }
  if (Is(l, TZNTTypeCode::Time)) {
    if (IsDayTime(r) && !HasDay(r)) return Accept(l);
    return Refuse(2, kDayTimeNoDay);
  }
  if (l.IsInterval()) {
    if (r.IsInteger() && IsSingleField(l)) return Accept(l);
    if (r.code == l.code) return Accept(l);
    if (Is(r, TZNTTypeCode::Date) && (IsYearMonth(l) || IsDayOnly(l))) return Accept(r);
    if (Is(r, TZNTTypeCode::Time) || Is(r, TZNTTypeCode::Timestamp))
      return Accept(TZNTDataType::Of(TZNTTypeCode::Timestamp));
    TList allowed = IsSingleField(l) ? kIntegers : TList();
    if (IsYearMonth(l) || IsDayOnly(l)) allowed.push_back(kDate[0]);
    allowed.push_back(kTime[0]);
    allowed.push_back(kTimestamp[0]);
    const TList& kind = IsYearMonth(l) ? kYearMonth : kDayTime;
    allowed.insert(allowed.end(), kind.begin(), kind.end());
    return Refuse(2, std::move(allowed));
  }
  return Refuse(1, Join({&kCharacter, &kBytes, &kNumbers, &kDateTimes, &kIntervals}));
}

TZNTTyping TypeSubtract(const TZNTDataType& l, const TZNTDataType& r) {
  if (l.IsNumber()) {
    if (r.IsNumber()) return Accept(NumberResult(l, r));
    return Refuse(2, kNumbers);
  }
  if (Is(l, TZNTTypeCode::Date)) {
    if (Is(r, TZNTTypeCode::Date)) return Accept(DT(kIntervalDay));
    if (IsYearMonth(r) || IsDayOnly(r)) return Accept(l);
    // The list the users see names the forms one writes after a date.
    return Refuse(2, {kDate[0], YM(kIntervalYear), YM(kIntervalYearToMonth), DT(kIntervalDay)});
  }
  if (Is(l, TZNTTypeCode::Time)) {
    // Two times are less than a day apart.
    if (Is(r, TZNTTypeCode::Time)) return Accept(DT(Fields(kIntervalHour, kIntervalMSecond)));
    if (IsDayTime(r) && !HasDay(r)) return Accept(l);
    return Refuse(2, Join({&kTime, &kDayTimeNoDay}));
  }
  if (Is(l, TZNTTypeCode::Timestamp)) {
    if (Is(r, TZNTTypeCode::Date) || Is(r, TZNTTypeCode::Timestamp))
      return Accept(DT(Fields(kIntervalDay, kIntervalMSecond)));
    if (r.IsInterval()) return Accept(l);
    return Refuse(2, Join({&kDate, &kTimestamp, &kIntervals}));
  }
  if (l.IsInterval()) {
    // Integers stand for a count of the unit, which only one field has.
    if (r.code == l.code || (r.IsInteger() && IsSingleField(l))) return Accept(l);
    return Refuse(2, IntervalPartners(l));
  }
  return Refuse(1, Join({&kNumbers, &kDateTimes, &kIntervals}));
}

TZNTTyping TypeMultiply(const TZNTDataType& l, const TZNTDataType& r) {
  if (l.IsNumber()) {
    if (r.IsNumber()) return Accept(NumberResult(l, r));
    if (l.IsInteger() && IsSingleField(r)) return Accept(r);
    return Refuse(2, l.IsInteger() ? Join({&kNumbers, &kSingleField}) : kNumbers);
  }
  if (IsSingleField(l)) {
    if (r.IsInteger()) return Accept(l);
    return Refuse(2, kIntegers);
  }
  return Refuse(1, Join({&kNumbers, &kSingleField}));
}

TZNTTyping TypeDivide(const TZNTDataType& l, const TZNTDataType& r) {
  const TZNTDataType kFloat = TZNTDataType::Of(TZNTTypeCode::Float);
  if (l.IsInteger()) {
    if (r.IsInteger() || Is(r, TZNTTypeCode::Float)) return Accept(kFloat);
    if (Is(r, TZNTTypeCode::Decimal)) return Accept(TZNTDataType::Decimal(r.scale));
    return Refuse(2, kNumbers);
  }
  if (Is(l, TZNTTypeCode::Float)) {
    if (r.IsNumber()) return Accept(kFloat);
    return Refuse(2, kNumbers);
  }
  if (Is(l, TZNTTypeCode::Decimal)) {
    if (r.IsNumber()) return Accept(NumberResult(l, r));
    return Refuse(2, kNumbers);
  }
  if (l.IsInterval()) {
    if (r.IsInteger()) return Accept(l);
    return Refuse(2, kIntegers);
  }
  return Refuse(1, Join({&kNumbers, &kIntervals}));
}

TZNTTyping TypeMod(const TZNTDataType& l, const TZNTDataType& r) {
  if (l.IsInteger()) {
    if (r.IsInteger()) return Accept(NumberResult(l, r));
    return Refuse(2, kIntegers);
  }
  if (l.IsInterval()) {
    if (r.IsInteger()) return Accept(l);
    return Refuse(2, kIntegers);
  }
  return Refuse(1, Join({&kIntegers, &kIntervals}));
}

TZNTTyping TypeComparison(bool ordered, const TZNTDataType& l, const TZNTDataType& r) {
  if (IsCharCode(l) || IsClob(l)) {
    if (r.IsCharacter()) return Accept(kBooleanResult);
    return Refuse(2, kCharacter);
  }
  if (l.IsBytes()) {
    if (r.IsBytes()) return Accept(kBooleanResult);
    return Refuse(2, kBytes);
  }
  if (Is(l, TZNTTypeCode::Boolean)) {
    if (ordered) return Refuse(1, kOrderable);
    if (Is(r, TZNTTypeCode::Boolean) || r.IsInteger()) return Accept(kBooleanResult);
    return Refuse(2, Join({&kBoolean, &kIntegers}));
  }
  if (l.IsInteger()) {
    if (Is(r, TZNTTypeCode::Boolean) || r.IsNumber() || IsSingleField(r))
      return Accept(kBooleanResult);
    return Refuse(2, Join({&kBoolean, &kNumbers, &kSingleField}));
  }
  if (l.IsNumber()) {
    if (r.IsNumber()) return Accept(kBooleanResult);
    return Refuse(2, kNumbers);
  }
  if (Is(l, TZNTTypeCode::Date)) {
    if (Is(r, TZNTTypeCode::Date) || (ordered && Is(r, TZNTTypeCode::Timestamp)))
      return Accept(kBooleanResult);
    return Refuse(2, ordered ? Join({&kDate, &kTimestamp}) : kDate);
  }
  if (Is(l, TZNTTypeCode::Timestamp)) {
    if (Is(r, TZNTTypeCode::Date) || Is(r, TZNTTypeCode::Timestamp)) return Accept(kBooleanResult);
    return Refuse(2, Join({&kDate, &kTimestamp}));
  }
  if (Is(l, TZNTTypeCode::Time)) {
    if (Is(r, TZNTTypeCode::Time)) return Accept(kBooleanResult);
    return Refuse(2, kTime);
  }
  if (l.IsInterval()) {
    if (r.code == l.code || (r.IsInteger() && IsSingleField(l))) return Accept(kBooleanResult);
    return Refuse(2, IntervalPartners(l));
  }
  return Refuse(1, ordered ? kOrderable : kAll);
}

// Widens the common type `t` by the next argument's type `a`.
TZNTDataType Widen(const TZNTDataType& t, const TZNTDataType& a) {
  auto larger = [](int32_t x, int32_t y) { return x > y ? x : y; };
  if (t.IsNumber() && a.IsNumber()) {
    if (t.IsInteger() && a.IsInteger()) {
      auto rank = [](TZNTTypeCode c) {
        return static_cast<int>(c);
      };  // SmallInt < Integer < BigInt
      return rank(a.code) > rank(t.code) ? TZNTDataType::Of(a.code) : t;
    }
    return NumberResult(t, a);
  }
  if (t.IsCharacter() && a.IsCharacter()) {
    if (IsClob(t) || IsClob(a)) return TZNTDataType::Clob(t.collation);
    TZNTDataType w = t.subtype == a.subtype ? t : TZNTDataType::VarChar(0, t.collation);
    w.size = larger(t.size, a.size);
    return w;
  }
  if (t.IsBytes() && a.IsBytes()) {
    if (IsBlob(t) || IsBlob(a)) return TZNTDataType::Blob();
    TZNTDataType w = t.subtype == a.subtype ? t : TZNTDataType::VarByte(0);
    w.size = larger(t.size, a.size);
    return w;
  }
  return t;
}

}  // namespace

// ---------------------------------------------------------------------------
// Collations
// ---------------------------------------------------------------------------

std::optional<uint32_t> CollationIdFromName(std::string_view name) {
  std::string base(name);
  uint32_t flags = 0;
  for (const auto& s : kCollationSuffixes)
    if (RemoveSuffix(base, s.suffix)) flags |= s.flag;
  if (ZNTSameText(base, "ANSI")) return kCollationANSI | flags;
  for (const TLocaleEntry& e : kLocales)
    if (ZNTSameText(base, e.name)) return e.lcid | flags;
  return std::nullopt;
}

std::string CollationName(uint32_t id) {
  const uint32_t lcid = id & ~kCollationFlags;
  std::string name;
  if (lcid == kCollationANSI) {
    name = "ANSI";
  } else if (const TLocaleEntry* e = FindLocale(lcid)) {
    name = e->name;
  } else {
    return {};
  }
  for (const auto& s : kCollationSuffixes)
    if (id & s.flag) name += s.suffix;
  return name;
}

std::string CollationDescription(uint32_t id) {
  const uint32_t lcid = id & ~kCollationFlags;
  if (lcid == kCollationANSI) return "ANSI (Binary)";
  const TLocaleEntry* e = FindLocale(lcid);
  return e ? e->description : std::string();
}

std::vector<TZNTCollationInfo> AvailableCollations() {
  std::vector<TZNTCollationInfo> list;
  list.push_back({kCollationANSI, "ANSI", "ANSI (Binary)"});
  for (const TLocaleEntry& e : kLocales)
    if (InstalledLocale(e)) list.push_back({e.lcid, e.name, e.description});
  return list;
}

bool IsCollationInstalled(uint32_t id) {
  if (IsANSICollation(id)) return true;
  const TLocaleEntry* e = FindLocale(id & ~kCollationFlags);
  return e && InstalledLocale(*e);
}

int CompareText(std::string_view a, std::string_view b, uint32_t collation, size_t limit) {
  if (IsANSICollation(collation))
    return ZNTCompareText(a, b, collation & kCollationCaseInsensitive, limit);
  return CompareInLocale(a, b, collation, limit);
}

// ---------------------------------------------------------------------------
// Operator typing
// ---------------------------------------------------------------------------

TZNTTyping TypeBinaryOperator(TZNTTypingOp op, const TZNTDataType& left,
                              const TZNTDataType& right) {
  const bool leftNull = left.code == TZNTTypeCode::Unknown;
  const bool rightNull = right.code == TZNTTypeCode::Unknown;
  const TZNTDataType& l = leftNull && !rightNull ? right : left;
  const TZNTDataType& r = rightNull && !leftNull ? left : right;
  const bool bothNull = leftNull && rightNull;
  switch (op) {
    case TZNTTypingOp::Add:
      return bothNull ? Accept(l) : TypeAdd(l, r);
    case TZNTTypingOp::Subtract:
      return bothNull ? Accept(l) : TypeSubtract(l, r);
    case TZNTTypingOp::Multiply:
      return bothNull ? Accept(l) : TypeMultiply(l, r);
    case TZNTTypingOp::Divide:
      return bothNull ? Accept(l) : TypeDivide(l, r);
    case TZNTTypingOp::Mod:
      return bothNull ? Accept(l) : TypeMod(l, r);
    case TZNTTypingOp::And:
    case TZNTTypingOp::Or:
      if (!bothNull && !Is(l, TZNTTypeCode::Boolean)) return Refuse(1, kBoolean);
      if (!bothNull && !Is(r, TZNTTypeCode::Boolean)) return Refuse(2, kBoolean);
      return Accept(kBooleanResult);
    case TZNTTypingOp::Equal:
    case TZNTTypingOp::NotEqual:
      return bothNull ? Accept(kBooleanResult) : TypeComparison(false, l, r);
    case TZNTTypingOp::Less:
    case TZNTTypingOp::LessEqual:
    case TZNTTypingOp::Greater:
    case TZNTTypingOp::GreaterEqual:
      return bothNull ? Accept(kBooleanResult) : TypeComparison(true, l, r);
    default:
      return TypeUnaryOperator(op, left);
  }
}

TZNTTyping TypeUnaryOperator(TZNTTypingOp op, const TZNTDataType& operand) {
  const bool null = operand.code == TZNTTypeCode::Unknown;
  if (op == TZNTTypingOp::Not) {
    if (null || Is(operand, TZNTTypeCode::Boolean)) return Accept(kBooleanResult);
    return Refuse(1, kBoolean);
  }
  if (op == TZNTTypingOp::Negate) {
    if (null || operand.IsNumber() || operand.IsInterval()) return Accept(operand);
    return Refuse(1, Join({&kNumbers, &kIntervals}));
  }
  // A binary operator given one operand types as if both were the same.
  return TypeBinaryOperator(op, operand, operand);
}

TZNTTyping TypeBetween(const TZNTDataType& x, const TZNTDataType& low, const TZNTDataType& high) {
  TZNTTyping r = TypeBinaryOperator(TZNTTypingOp::Less, x, low);
  if (!r.ok) return r;
  r = TypeBinaryOperator(TZNTTypingOp::Less, x, high);
  if (!r.ok && r.refusedOperand == 2) r.refusedOperand = 3;
  return r;
}

TZNTTyping TypeIn(const TZNTDataType& x, const TZNTDataType& item) {
  return TypeBinaryOperator(TZNTTypingOp::Equal, x, item);
}

TZNTTyping TypeLike(const TZNTDataType& text, const TZNTDataType& pattern) {
  if (text.code != TZNTTypeCode::Unknown && !text.IsCharacter()) return Refuse(1, kCharacter);
  if (pattern.code != TZNTTypeCode::Unknown && !pattern.IsCharacter()) return Refuse(2, kCharacter);
  return Accept(kBooleanResult);
}

TZNTTyping TypeCommon(const std::vector<TZNTDataType>& args) {
  if (args.empty()) return Refuse(0, {});
  TZNTDataType t = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    TZNTTyping c = TypeComparison(false, args[i - 1], args[i]);
    if (!c.ok) return Refuse(static_cast<int>(i) + (c.refusedOperand == 2 ? 1 : 0), c.expected);
    t = Widen(t, args[i]);
  }
  return Accept(t);
}

std::string JoinAlternatives(const std::vector<std::string>& words) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) {
      const bool last = i + 1 == words.size();
      text += !last ? ", " : (words.size() == 2 ? " or " : ", or ");
    }
    text += words[i];
  }
  return text;
}

std::string AcceptableTypesText(const std::vector<TZNTDataType>& types) {
  std::vector<std::string> names;
  names.reserve(types.size());
  for (const TZNTDataType& t : types) names.push_back(TypeName(t));
  return JoinAlternatives(names) + " expression";
}

}  // namespace znt
