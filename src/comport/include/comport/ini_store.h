// An INI file as a settings store: "[Section]" headers and "Key=Value" lines, names
// matched without regard to ASCII letter case, readable by the Windows private-profile
// functions. Changes are kept in memory until UpdateFile writes the whole file at once
// (a new file renamed over the old), so the file on disk is always either the old or
// the new one, never a mix. UpdateFile reads the file again under a lock that other
// stores of this kind take too and puts this store's keys into what it finds, so keys
// another process saved since this store read the file are kept; a key both saved ends
// up with the value of the later save. Lines the store does not own (comments, other
// sections and keys) are kept as they are, with their line ends. A file that starts with
// a UTF-8 or UTF-16 LE byte-order mark is read as such and saved in the same encoding.
#pragma once

#include "comport/errors.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace comport {

// The INI file cannot be read or written, or a name or value cannot be represented.
class EIniFileError : public Exception {
 public:
  using Exception::Exception;
};

class IniDocument;

class TIniStore {
 public:
  // Reads the file when it exists; a missing file starts an empty store (created by the
  // first UpdateFile). Raises EIniFileError when the path exists but cannot be read.
  explicit TIniStore(std::filesystem::path FileName);
  // Writes unsaved changes as a last resort, unless an UpdateFile already failed (a
  // save is tried once; only another UpdateFile tries again). Errors cannot be reported
  // from here, so callers that care call UpdateFile first.
  virtual ~TIniStore();
  TIniStore(const TIniStore&) = delete;
  TIniStore& operator=(const TIniStore&) = delete;

  // The text of Key in Section, or Default when absent. Surrounding blanks (space, tab,
  // 0x0B, 0x0C, 0x1A) and one pair of matching quotes around the value are removed, as
  // the Windows reader does. The Section "" is the lines before the first header.
  virtual std::string GetText(const std::string& Section, const std::string& Key,
                              const std::string& Default);
  // Raises EIniFileError for a line break anywhere, an empty key, a key with "=" or
  // leading/trailing blanks, a section name with "]" or leading/trailing blanks, or text
  // that is not UTF-8 for a UTF-16 file.
  virtual void PutText(const std::string& Section, const std::string& Key,
                       const std::string& Value);
  // Default when the key is absent or its text is not a 32-bit integer (decimal, or
  // hexadecimal after "$" or "0x").
  virtual std::int32_t GetInteger(const std::string& Section, const std::string& Key,
                                  std::int32_t Default);
  // Written in decimal.
  virtual void PutInteger(const std::string& Section, const std::string& Key, std::int32_t Value);

  const std::filesystem::path& FileName() const { return fileName_; }
  bool Modified() const { return modified_; }
  // Writes the keys put since the file was read or last written, each with the value
  // put last, into the file as it is now (see above); the file is not rewritten when
  // that changes nothing. Raises EIniFileError when it cannot, or when the file is
  // read-only; the file then keeps its previous content and the keys stay unsaved.
  void UpdateFile();

 private:
  struct PutKey {
    std::string section;
    std::string key;
    std::string value;
  };

  std::filesystem::path fileName_;
  std::unique_ptr<IniDocument> document_;
  std::vector<PutKey> unsaved_;  // every put since the last write, equal values too
  bool modified_ = false;        // whether those puts changed the document as read
  bool updateFailed_ = false;
};

}  // namespace comport
