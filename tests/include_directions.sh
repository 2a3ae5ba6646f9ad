#!/bin/sh
# The product's folders include one another one way only (docs/architecture.md, "Dependencies"):
# device/ nothing of app/, update/, ui/ or target/; update/ and ui/ not each other; ui/ and update/
# only the run log, options and exit codes of app/. Prints each include that breaks this.
cd "$(dirname "$0")/.." || exit 2
status=0
grep -n '#include "\(app\|update\|ui\|target\)/' device/* && status=1
grep -n '#include "update/' ui/* && status=1
grep -n '#include "ui/' update/* && status=1
grep -n '#include "app/' ui/* update/* | grep -v 'run_log.h\|run_options.h\|exit_codes.h' && status=1
exit $status
