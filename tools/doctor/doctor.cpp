#include "tools/doctor/doctor.h"

#include <algorithm>
#include <cstdio>

#include "tools/card/schema.h"
#include "tools/doctor/checks.h"

namespace idcard::doctor {

bool Report::ok() const {
  return std::none_of(findings.begin(), findings.end(),
                      [](const Finding& f) { return f.status == Status::Fail; });
}

Report examine(const Options& o) {
  Report r;
  Deployment d;
  check_files(o, d, r);
  check_live(o, d, r);
  r.folder = d.folder;
  r.edition = d.edition ? d.edition->name : "";
  return r;
}

namespace {

void print_json(const Report& report) {
  nlohmann::ordered_json doc;
  doc["folder"] = report.folder;
  doc["edition"] = report.edition.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(report.edition);
  doc["ok"] = report.ok();
  doc["simulated"] = report.simulated;
  nlohmann::ordered_json findings = nlohmann::ordered_json::array();
  for (const Finding& f : report.findings) {
    nlohmann::ordered_json item = {{"check", f.check}, {"subject", f.subject},
                                   {"status", status_name(f.status)}, {"text", f.text}};
    if (!f.fix.empty()) item["fix"] = f.fix;
    findings.push_back(std::move(item));
  }
  doc["findings"] = std::move(findings);
  std::printf("%s\n", dump(doc).c_str());
}

void print_lines(const Report& report) {
  std::printf("idcard doctor: %s%s%s\n", report.folder.c_str(),
              report.edition.empty() ? "" : (", the " + report.edition + " edition").c_str(),
              report.simulated ? ", with the simulated reader in the driver's place" : "");
  std::size_t failing = 0;
  for (const Finding& f : report.findings) {
    std::string status = status_name(f.status);
    if (f.status == Status::Fail) {
      status = "FAIL";
      ++failing;
    }
    std::printf("  %-7s %s\n", status.c_str(), f.text.c_str());
    if (!f.fix.empty()) std::printf("  %-7s fix: %s\n", "", f.fix.c_str());
  }
  if (failing == 0)
    std::printf("everything holds\n");
  else
    std::printf("%zu finding%s to fix\n", failing, failing == 1 ? "" : "s");
}

}  // namespace

void print(const Report& report, bool json) {
  if (json)
    print_json(report);
  else
    print_lines(report);
  std::fflush(stdout);
}

int run(const Options& o) {
  const Report report = examine(o);
  print(report, o.json);
  return report.ok() ? 0 : 1;
}

}  // namespace idcard::doctor
