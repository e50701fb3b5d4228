// An INI file as a settings store: "[Section]" headers and "Key=Value" lines, names
// matched without regard to ASCII letter case, readable by the Windows private-profile
// functions. Changes are kept in memory until UpdateFile writes the whole file at once
// (a new file renamed over the old), so the file on disk is always either the old or
// the new one, never a mix. Lines the store does not own (comments, other sections and
// keys) are kept as they are, with their line ends. A file that starts with a UTF-8 or
// UTF-16 LE byte-order mark is read as such and saved in the same encoding.
#pragma once

#include "comport/errors.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

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
  // Writes unsaved changes as a last resort; errors cannot be reported from here, so
  // callers that care call UpdateFile first.
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
  // Writes the file if anything changed since it was read or last written.
  // Raises EIniFileError when it cannot, or when the file is read-only; the file then
  // keeps its previous content.
  void UpdateFile();

 private:
  std::filesystem::path fileName_;
  std::unique_ptr<IniDocument> document_;
  bool modified_ = false;
};

}  // namespace comport
