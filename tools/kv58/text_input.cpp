#include "tools/kv58/text_input.h"

#include <filesystem>
#include <system_error>

#include "protocol/text_upload.h"
#include "protocol/upload_file.h"

namespace kv58::cli {
namespace {

const std::string kLimitText = "the display takes at most " + std::to_string(kMaxTextBytes) + " bytes";

TextInput Failed(std::string error) { return TextInput{false, {}, std::move(error)}; }

// Why a file was not loaded, from what the file system says about it; nothing is opened.
std::string UnreadableReason(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) {
    return "no such file";
  }
  if (std::filesystem::is_directory(status)) {
    return "it is a directory";
  }
  if (!std::filesystem::is_regular_file(status)) {
    return "it is not a regular file";
  }
  return "it cannot be read";
}

TextInput ReadStandardInput(std::istream& in) {
  std::string bytes(kMaxTextBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) {
    return Failed("standard input cannot be read");
  }
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > kMaxTextBytes) {
    return Failed("standard input holds more than " + std::to_string(kMaxTextBytes) + " bytes; " +
                  kLimitText);
  }
  return TextInput{true, std::move(bytes), {}};
}

// A text the display would end early and then obey as commands is refused before anything is sent.
TextInput Checked(TextInput text, const std::string& name) {
  if (const auto terminator = TerminatorInText(text.bytes); text.loaded && terminator) {
    return Failed(name + " holds a 00 byte at offset " + std::to_string(*terminator) +
                  "; the display would end the text there and take the bytes after it as commands");
  }
  return text;
}

TextInput LoadText(const std::string& file, std::istream& standardInput) {
  if (file == "-") {
    return ReadStandardInput(standardInput);
  }
  UploadFile loaded = LoadUploadFile(file);
  switch (loaded.status) {
  case UploadFile::Status::Loaded:
    return TextInput{true, std::move(loaded.bytes), {}};
  case UploadFile::Status::TooLong:
    return Failed(file + " holds " + std::to_string(loaded.size) + " bytes; " + kLimitText);
  case UploadFile::Status::Unreadable:
    break;
  }
  return Failed(file + ": " + UnreadableReason(file));
}

} // namespace

TextInput ReadText(const std::string& file, std::istream& standardInput) {
  return Checked(LoadText(file, standardInput), file == "-" ? "standard input" : file);
}

} // namespace kv58::cli
