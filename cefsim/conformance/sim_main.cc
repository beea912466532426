// The conformance scenarios on cefsim, run the way the Windows client runs
// them: one line per check, a summary, a report file, exit 0 only when every
// check passed.
//
// Usage: cef-launcher-conformance-sim [REPORT_FILE]

#include <cstdio>
#include <iostream>
#include <string>

#include "cefsim/conformance/sim_page_host.h"
#include "conformance/check_report.h"
#include "conformance/runner.h"
#include "launcher/cef_launcher_application.h"

int main(int argc, char* argv[]) {
  const std::string reportPath =
      argc > 1 ? argv[1] : "cef-launcher-conformance-sim.txt";
  conformance::CheckReport report(
      [](const std::string& line) { std::cout << line << std::endl; });
  conformance::SimPageHost host(new CefLauncherApplication());
  host.SetLog([](const std::string& line) {
    std::cout << "cefsim: " << line << std::endl;
  });
  conformance::Runner runner(host, report, conformance::Runner::Options());
  host.SetEvents(&runner.Events());
  runner.PrepareBeforeStart();
  runner.Start([] {});
  if (!host.Run([&] { return runner.Finished(); })) {
    report.Fail("conformance run", "stopped with nothing left to run");
  }
  report.Finish();
  if (!report.WriteTo(reportPath)) {
    std::cout << "report: could not write " << reportPath << std::endl;
    return 1;
  }
  std::cout << "report: " << reportPath << std::endl;
  return report.AllPassed() ? 0 : 1;
}
