// idcard: reads a card through one edition library, as an application does, and prints it; or,
// as `idcard serve`, hands the card to web pages through a local HTTP service, which
// `idcard service` runs in the background on Windows; or, as `idcard doctor`, checks a deployment.
// `idcard --help` lists the options. Result files land beside this program.
#include "tools/cli/options.h"
#include "tools/cli/read_command.h"
#include "tools/cli/service_command.h"
#include "tools/doctor/doctor.h"
#include "tools/service/service.h"

int main(int argc, char** argv) {
  const idcard::Options o = idcard::parse_options(argc, argv);
  if (o.run_doctor) return idcard::doctor::run(o.doctor);
  if (o.action != idcard::ServiceAction::None) return idcard::service_command(o);
  return o.serve ? idcard::serve(o.reader, o.service) : idcard::read_command(o);
}
