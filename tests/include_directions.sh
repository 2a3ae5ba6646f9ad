#!/bin/sh
# The product's folders include one another one way only (docs/architecture.md, "Who includes
# whom"): device/ nothing of app/, update/, ui/ or target/; update/ and ui/ not each other; ui/ and
# update/ only the run log, options and exit codes of app/. A folder's internal.h is included by
# that folder alone (and the tests). Prints each include that breaks this.
cd "$(dirname "$0")/.." || exit 2
status=0
grep -n '#include "\(app\|update\|ui\|target\)/' device/* && status=1
grep -n '#include "update/' ui/* && status=1
grep -n '#include "ui/' update/* && status=1
grep -n '#include "app/' ui/* update/* | grep -v 'run_log.h\|run_options.h\|exit_codes.h' && status=1
grep -rn '#include "[a-z]*/internal.h"' app device update ui target platform sim tools |
    grep -v '^\([a-z]*\)/[^:]*:[0-9]*:#include "\1/internal.h"' && status=1
exit $status
