#include "AddressFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <span>
#include <vector>

#include "FileIo.h"
#include "Hex.h"

namespace vantorq {

namespace {

// A file larger than this is not an address table; only its start is read.
constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr int kAsteriskSearch = 50;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The characters of the file, read one at a time as a stream would give them.
class Reader {
 public:
  explicit Reader(std::string_view text) : m_text(text) {}
  bool AtEnd() const { return m_pos >= m_text.size(); }
  char Peek() const { return m_text[m_pos]; }
  char Next() { return m_text[m_pos++]; }

  // A formatted hexadecimal read: white space skipped, an optional 0x,
  // digits of either case; the value wraps as an unsigned number does.
  // False, consuming nothing after the white space, when there is no digit.
  bool ReadHex(std::uint32_t& value) {
    while (!AtEnd() && IsSpace(Peek())) ++m_pos;
    std::size_t at = m_pos;
    if (at + 2 < m_text.size() && m_text[at] == '0' && (m_text[at + 1] == 'x' || m_text[at + 1] == 'X') &&
        HexValue(m_text[at + 2]) >= 0) {
      at += 2;
    }
    if (at >= m_text.size() || HexValue(m_text[at]) < 0) return false;
    value = 0;
    while (at < m_text.size() && HexValue(m_text[at]) >= 0) {
      value = value * 16 + static_cast<std::uint32_t>(HexValue(m_text[at]));
      ++at;
    }
    m_pos = at;
    return true;
  }

 private:
  std::string_view m_text;
  std::size_t m_pos = 0;
};

}  // namespace

AddressTable::AddressTable() {
  for (auto& d : description) {
    d.fill(' ');
    d[kAddrDescChars] = '\0';
  }
}

std::string_view AddressTable::Description(int unit) const {
  const auto& d = description.at(static_cast<std::size_t>(unit));
  return {d.data(), std::string_view(d.data(), d.size()).find('\0')};
}

std::string DefaultAddressFile() {
  std::string text;
  for (int i = 0; i < kAddressCount; ++i) text += "0000 ";
  text += "\r\n";
  for (int i = 0; i < kAddressCount; ++i) text += "* \r\n";
  return text;
}

void ParseAddressFile(std::string_view text, AddressTable& table) {
  Reader in(text);
  for (auto& d : table.description) {
    d.fill(' ');
    d[kAddrDescChars] = '\0';
  }
  for (auto& address : table.address) {
    std::uint32_t value = 0;
    // A number that cannot be read stays 0, and so do the ones after it:
    // the offending character is not consumed.
    if (in.ReadHex(value)) address = static_cast<std::uint16_t>(value & 0xFFFF);
  }
  for (auto& d : table.description) {
    bool found = false;
    for (int n = 0; n < kAsteriskSearch && !in.AtEnd(); ++n) {
      if (in.Next() == '*') {
        found = true;
        break;
      }
    }
    // The end of the file: this entry and the rest keep ten blanks.
    if (!found && in.AtEnd()) return;
    std::size_t length = 0;
    while (length < kAddrDescChars && !in.AtEnd()) {
      const char c = in.Next();
      // The file is text: a CR LF line end ends the description as LF does.
      if (c == '\n' || c == '\r') break;
      d[length++] = c;
    }
    d[length] = '\0';
  }
}

void ReadAddressFile(const std::string& path, AddressTable& table,
                     const std::function<void(std::string_view)>& message) {
  if (!FileExists(path)) {
    const std::string text = DefaultAddressFile();
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    // A default file that could not be written whole (a full disk) is
    // removed: an empty one would be read as the table for good.
    if (CreateNewFile(path, bytes) != WriteResult::Written) {
      message("There is no KVAddrMg.ini and faild to create new empty ini file !");
      if (!FileExists(path)) message("failed");
    }
  }
  // Opened for reading and updating: a file that cannot be updated counts
  // as unreadable. The write bits are asked too, since root may update
  // any file, and a read-only file must read as one whoever runs us. Only
  // a regular file is opened: a FIFO would keep the window from ever
  // opening, and a link to a device must not open the device.
  const CFileDescriptor in = OpenRegularFile(path, O_RDWR);
  struct stat st {};
  std::vector<std::uint8_t> bytes;
  bool more = false;
  if (!in || ::fstat(in.Get(), &st) != 0 || (st.st_mode & 0222) == 0 ||
      !ReadUpTo(in.Get(), kMaxFileBytes, bytes, more)) {
    message("File read failed");
    table = AddressTable();
    return;
  }
  ParseAddressFile({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, table);
}

}  // namespace vantorq
