// Helpers shared by the catalog tests: raw access to files of an in-memory
// file manager and to the plain header and body of a container file.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/zntcommon.h"
#include "base/zntcrypto.h"
#include "base/znterror.h"
#include "catalog/zntconfig.h"
#include "storage/zntmemfilemgr.h"

namespace znt::test {

inline std::string FileBytes(TZNTFileManager& files, const std::string& path) {
  TZNTFileStream s = files.OpenFile(path, false, true);
  std::string bytes(static_cast<size_t>(s.Size()), '\0');
  s.ReadAt(0, bytes.data(), bytes.size());
  return bytes;
}

inline void SetFileBytes(TZNTFileManager& files, const std::string& path,
                         const std::string& bytes) {
  TZNTFileStream s = files.CreateFile(path, false, false);
  s.WriteAt(0, bytes.data(), bytes.size());
}

// A container file split into its deciphered header and body.
struct TPlainFile {
  std::string header;  // 56 bytes
  std::string body;

  static TPlainFile Of(const std::string& bytes, const TZNTMetadataSettings& settings,
                       bool encrypted) {
    TPlainFile f{bytes.substr(0, kZNTContainerHeaderSize), bytes.substr(kZNTContainerHeaderSize)};
    if (encrypted) {
      TZNTBlowfish cipher(settings.passwordDigest);
      cipher.Decrypt(f.header.data(), f.header.size());
      cipher.Decrypt(f.body.data(), f.body.size());
    }
    return f;
  }
  std::string Bytes(const TZNTMetadataSettings& settings, bool encrypted) const {
    std::string h = header, b = body;
    if (encrypted) {
      TZNTBlowfish cipher(settings.passwordDigest);
      cipher.Encrypt(h.data(), h.size());
      cipher.Encrypt(b.data(), b.size());
    }
    return h + b;
  }
  TZNTContainerHeader Header() const {
    return TZNTContainerHeader::Decode(reinterpret_cast<const unsigned char*>(header.data()));
  }
  void SetHeader(const TZNTContainerHeader& h) {
    h.Encode(reinterpret_cast<unsigned char*>(header.data()));
  }
};

// The code and text of the engine error `f` raises; code 0 when none.
template <class F>
std::pair<int, std::string> ErrorOf(F&& f) {
  try {
    f();
  } catch (const EZNTException& e) {
    return {e.ErrorCode(), e.ErrorMessage()};
  }
  return {0, ""};
}

// The tree's serialised form, to compare two trees field by field.
inline std::string Serialised(const TZNTConfigObject& root) {
  TZNTWriter w;
  root.Write(w);
  return w.TakeBuffer();
}

}  // namespace znt::test
