// idcard: reads a card through one edition library, as an application does, and prints it; or,
// as `idcard serve`, hands the card to web pages through a local HTTP service, which
// `idcard service` runs in the background on Windows; or, as `idcard doctor`, checks a deployment.
// `idcard --help` lists the options. The editions run in a reader process of their own, whose
// result files land in its private folder: nothing is written beside this program.
#include "platform/host.h"
#include "tools/cli/options.h"
#include "tools/cli/read_command.h"
#include "tools/cli/service_command.h"
#include "tools/doctor/doctor.h"
#include "tools/service/service.h"

int main(int argc, char** argv) {
  // A reader of the output that leaves early (`idcard --json | head -c 1`) makes a write fail,
  // which the commands report, instead of ending the program before it cleans up.
  plat::ignore_broken_pipes();
  const idcard::Options o = idcard::parse_options(argc, argv);
  if (o.run_doctor) return idcard::doctor::run(o.doctor);
  if (o.action != idcard::ServiceAction::None) return idcard::service_command(o);
  return o.serve ? idcard::serve(o.reader, o.service) : idcard::read_command(o);
}
