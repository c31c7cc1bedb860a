// The three editions' descriptors.
#include "tools/editions/edition.h"

#include <climits>

namespace idcard {

namespace {

using F = Failure;
using G = GetterForm;

constexpr Meaning kNoReader[] = {{INT_MIN, INT_MAX, F::NoReader,
                                  "no reader on that port, or its SAM is not answering"}};
constexpr Meaning kNoCard[] = {{INT_MIN, INT_MAX, F::NoCard, "no card on the reader"}};

constexpr const char* kDrivers[] = {"sdtapi.dll", "WltRS.dll"};

// ---- QDX ----------------------------------------------------------------------------------------

constexpr Meaning kQdxRead[] = {
    {INT_MIN, INT_MAX, F::ReadFailed,
     "the driver refused, a result file could not be written, or the decoder failed"}};
constexpr int kQdxModes[] = {1, 2, 3, 4, 5, 6};
constexpr const char* kQdxText[] = {"name",    "sex",       "nation",    "birth",
                                    "address", "id_number", "authority", "validity"};
constexpr const char* kRecord[] = {"name",      "sex",       "nation",     "birth",   "address",
                                   "id_number", "authority", "valid_from", "valid_to"};
constexpr FileFields kQdxFiles[] = {{1, "wz.txt", FileLayout::Record, kRecord, "zp.bmp"},
                                    {2, "wz.txt", FileLayout::Record, kRecord, nullptr},
                                    {4, "wz.txt", FileLayout::Lines, kQdxText, "zp.bmp"},
                                    {6, "<SAM>.txt", FileLayout::Lines, kQdxText, "<SAM>.bmp"}};
constexpr const char* kQdxResults[] = {"wz.txt", "xp.wlt",      "zp.wlt",
                                       "zp.bmp", "NEWADDR.txt", "IINSNDN.bin"};

// ---- SDT ----------------------------------------------------------------------------------------

constexpr Meaning kSdtOpen[] = {{-10, -10, F::NoReader, "no reader found (driver status 1)"},
                                {INT_MIN, INT_MAX, F::NoReader, "no reader found"}};
constexpr Meaning kSdtSelect[] = {{-10, -10, F::NoReader, "driver status 1"},
                                  {0, 0, F::NoCard, "no card on the reader"},
                                  {INT_MIN, INT_MAX, F::NoCard, "card not selected"}};
constexpr Meaning kSdtRead[] = {{-8, -8, F::ReadFailed, "a result file could not be written"},
                                {-10, -10, F::NoReader, "driver status 1"},
                                {-11, -11, F::ReadFailed, "decoder failure"},
                                {-6, -1, F::ReadFailed, "decoder failure"},
                                {0, 0, F::ReadFailed, "unknown read type"},
                                {INT_MIN, INT_MAX, F::ReadFailed, "driver status"}};
constexpr int kSdtModes[] = {1, 2, 3, 4, 5};
constexpr Getter kSdtGetters[] = {
    {"name", "GetName", G::Terminated},           {"sex", "GetSex", G::Terminated},
    {"nation", "GetFolk", G::Terminated},         {"birth", "GetBirth", G::Terminated},
    {"address", "GetAddr", G::Terminated},        {"id_number", "GetIDNum", G::Terminated},
    {"authority", "GetDep", G::Terminated},       {"valid_from", "GetBegin", G::Terminated},
    {"valid_to", "GetEnd", G::Terminated},        {"appended_address", "GetNewAddr", G::Terminated},
    {"photo", "GetPicPath", G::PhotoPath}};
constexpr const char* kSdtResults[] = {"wx.txt", "wz.txt",     "zp.wlt",     "pic.wlt",
                                       "zp.bmp", "NewAdd.txt", "NewAdd1.txt"};

// ---- vantrel ------------------------------------------------------------------------------------

constexpr Meaning kVantrelRead[] = {
    {0, 0, F::ReadFailed, "the driver refused or a result file could not be written"},
    {INT_MIN, INT_MAX, F::ReadFailed, "decoder failure"}};
constexpr int kVantrelModes[] = {1, 2, 3, 5};
constexpr Getter kVantrelGetters[] = {
    {"name", "GetPeopleName", G::Sized},          {"sex", "GetPeopleSex", G::Sized},
    {"nation", "GetPeopleNation", G::Sized},      {"birth", "GetPeopleBirthday", G::Sized},
    {"address", "GetPeopleAddress", G::Sized},    {"id_number", "GetPeopleIDCode", G::Sized},
    {"authority", "GetDepartment", G::Sized},     {"valid_from", "GetStartDate", G::Sized},
    {"valid_to", "GetEndDate", G::Sized},         {"appended_address", "GetAppAddress", G::Indexed},
    {"photo_bytes", "GetPhotoBMP", G::ByteCount}};
constexpr const char* kVantrelResults[] = {"WZ.txt", "XP.wlt",     "ZP.wlt",
                                           "ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"};

#if defined(_WIN32)
constexpr const char* kRidel = "ridel.dll";
constexpr const char* kVantrelFile = "vantrel.dll";
constexpr const char* kVantrelDeployed = "ridel.dll";  // it finds its strings and log by that name
#else
constexpr const char* kRidel = "libridel.so";
constexpr const char* kVantrelFile = "libvantrel.so";
constexpr const char* kVantrelDeployed = "libvantrel.so";
#endif

constexpr EditionInfo kEditions[] = {
    {Edition::Qdx, "qdx", kRidel, kRidel, "QDX_GetDllVersion",
     {"open", "InitComm", kNoReader}, {"authenticate", "Authenticate", kNoCard},
     {"read", "Read_Content", kQdxRead}, 4, kQdxModes, 0, nullptr, {}, kQdxFiles, nullptr, kQdxResults,
     kDrivers, '.', nullptr, drv::Prefix::Qdx, nullptr},
    {Edition::Sdt, "sdt", kRidel, kRidel, "SelectCard",
     {"open", "OpenComm", kSdtOpen}, {"select", "SelectCard", kSdtSelect},
     {"read", "ReadBaseInfo", kSdtRead}, 1, kSdtModes, 3, "appended_address", kSdtGetters, {}, nullptr, kSdtResults,
     kDrivers, '-', nullptr, drv::Prefix::Sdt, nullptr},
    {Edition::Vantrel, "vantrel", kVantrelFile, kVantrelDeployed, "GetPeopleName",
     {"open", "InitComm", kNoReader}, {"authenticate", "Authenticate", kNoCard},
     {"read", "Read_Content", kVantrelRead}, 1, kVantrelModes, 0, nullptr, kVantrelGetters, {}, "ZP.bmp",
     kVantrelResults, kDrivers, 0, "idcrerror.log", drv::Prefix::Sdt, drv::kSerialDriverFile},
};

}  // namespace

std::span<const EditionInfo> editions() { return kEditions; }

const EditionInfo& edition_info(Edition e) { return kEditions[static_cast<int>(e)]; }

const EditionInfo* find_edition(std::string_view name) {
  for (const EditionInfo& e : kEditions) {
    if (name == e.name) return &e;
  }
  return nullptr;
}

bool result_name_matches(std::string_view pattern, std::string_view name) {
  const std::size_t at = pattern.find(kSamNumber);
  if (at == std::string_view::npos) return pattern == name;
  const std::string_view before = pattern.substr(0, at), after = pattern.substr(at + kSamNumber.size());
  if (name.size() <= before.size() + after.size() || name.substr(0, before.size()) != before ||
      name.substr(name.size() - after.size()) != after)
    return false;
  std::string_view number = name.substr(before.size(), name.size() - before.size() - after.size());
  if (number.front() == '-') number.remove_prefix(1);
  return !number.empty() && number.find_first_not_of("0123456789") == std::string_view::npos;
}

std::vector<const char*> called_exports(const EditionInfo& e) {
  std::vector<const char*> names = {e.open.name, e.card.name, e.read.name, "CloseComm"};
  for (const Getter& g : e.getters) names.push_back(g.name);
  return names;
}

}  // namespace idcard
