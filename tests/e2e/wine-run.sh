#!/bin/bash
# Test command wrapper: runs a Windows program under Wine as set up by
# tools/wine-env.sh. E2E_LOCALE, when set, is the Unix locale of the run:
# Wine derives the Windows code page from it.
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-env.sh"
if [ -n "${E2E_LOCALE:-}" ]; then
    export LC_ALL=$E2E_LOCALE LANG=$E2E_LOCALE
fi
exec wine "$@"
