#!/bin/bash
# Test command wrapper: runs a Windows program under Wine as set up by
# tools/wine-env.sh.
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-env.sh"
exec wine "$@"
