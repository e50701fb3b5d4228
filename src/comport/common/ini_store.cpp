#include "comport/ini_store.h"

#include "common/ini_document.h"
#include "common/integer_text.h"
#include "winapi/atomic_replace.h"
#include "winapi/file_update_lock.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace comport {

namespace {

// Settings files are small; the limit keeps a wrong path (a log, a disk image) from
// being read into memory whole.
constexpr std::uintmax_t kMaxFileSize = 16u << 20;

std::string ReadWholeFile(const std::filesystem::path& fileName) {
  std::error_code error;
  const auto status = std::filesystem::status(fileName, error);
  if (status.type() == std::filesystem::file_type::not_found) return {};
  if (error) {
    throw EIniFileError("Cannot read INI file '" + fileName.string() + "': " + error.message());
  }
  if (!std::filesystem::is_regular_file(status)) {
    throw EIniFileError("Cannot read INI file '" + fileName.string() + "': not a regular file");
  }
  const auto size = std::filesystem::file_size(fileName, error);
  if (!error && size > kMaxFileSize) {
    throw EIniFileError("Cannot read INI file '" + fileName.string() + "': file too large");
  }
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EIniFileError("Cannot read INI file '" + fileName.string() + "'");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EIniFileError("Cannot read INI file '" + fileName.string() + "'");
  return text;
}

}  // namespace

TIniStore::TIniStore(std::filesystem::path FileName)
    : fileName_(std::move(FileName)),
      document_(
          std::make_unique<IniDocument>(IniDocument::FromFileBytes(ReadWholeFile(fileName_)))) {}

TIniStore::~TIniStore() {
  if (updateFailed_) return;
  try {
    UpdateFile();
  } catch (const std::exception&) {
    // Nowhere to report from a destructor; the file keeps its previous content.
  }
}

std::string TIniStore::GetText(const std::string& Section, const std::string& Key,
                               const std::string& Default) {
  return document_->Find(Section, Key).value_or(Default);
}

void TIniStore::PutText(const std::string& Section, const std::string& Key,
                        const std::string& Value) {
  if (!IniDocument::IsValidSectionName(Section)) {
    throw EIniFileError("Invalid INI section name '" + Section + "'");
  }
  if (!IniDocument::IsValidKeyName(Key)) {
    throw EIniFileError("Invalid INI key name '" + Key + "'");
  }
  if (!IniDocument::IsValidValue(Value)) {
    throw EIniFileError("A line break cannot be stored in INI key '" + Key + "'");
  }
  if (!document_->CanHold(Section) || !document_->CanHold(Key) || !document_->CanHold(Value)) {
    throw EIniFileError("Text that is not UTF-8 cannot be stored in INI key '" + Key + "'");
  }
  // Kept even when equal to what was read: another process may have saved a different
  // value since, and this save's keys are to win whole.
  unsaved_.push_back(PutKey{Section, Key, Value});
  if (document_->Find(Section, Key) == Value) return;
  document_->Set(Section, Key, Value);
  modified_ = true;
}

std::int32_t TIniStore::GetInteger(const std::string& Section, const std::string& Key,
                                   std::int32_t Default) {
  const auto text = document_->Find(Section, Key);
  if (!text) return Default;
  return ParseInt32(*text).value_or(Default);
}

void TIniStore::PutInteger(const std::string& Section, const std::string& Key, std::int32_t Value) {
  PutText(Section, Key, std::to_string(Value));
}

void TIniStore::UpdateFile() {
  if (unsaved_.empty()) return;
  updateFailed_ = true;  // until this one attempt has succeeded
  const winapi::FileUpdateLock lock(fileName_);
  const std::string onDisk = ReadWholeFile(fileName_);
  auto current = std::make_unique<IniDocument>(IniDocument::FromFileBytes(onDisk));
  for (const PutKey& put : unsaved_) {
    if (current->Find(put.section, put.key) != put.value) {
      current->Set(put.section, put.key, put.value);
    }
  }
  const auto bytes = current->ToFileBytes();
  if (!bytes) throw EIniFileError("Cannot encode INI file '" + fileName_.string() + "'");
  if (*bytes != onDisk) {
    try {
      winapi::ReplaceFileAtomically(fileName_, *bytes);
    } catch (const std::system_error& error) {
      throw EIniFileError("Cannot write INI file '" + fileName_.string() + "': " + error.what());
    }
  }
  document_ = std::move(current);
  unsaved_.clear();
  modified_ = false;
  updateFailed_ = false;
}

}  // namespace comport
