#!/bin/bash
# Test command wrapper: runs a Windows program under Wine as set up by
# scripts/setup.sh, in the environment of testkit/wine-env.sh.
exec "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" wine "$@"
