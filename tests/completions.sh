#!/bin/bash
# The bash completions offer the tools' commands and options, and txsim's
# hands over to the command's own completion after --.
set -u
source "$1/tool/completions/txbootload"
source "$1/tool/completions/txdiag"
source "$1/sim/completions/txsim"
failed=0
expect() {  # expect WANT WORD...: completes the last word
    local want=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    "_${1##*/}"
    if [ "${COMPREPLY[*]}" != "$want" ]; then
        echo "completion of '$*': got '${COMPREPLY[*]}', want '$want'"
        failed=1
    fi
}
expect "--version" txbootload --v
expect "fpga-load fpga-regs fpga-test fpga-version fpga-keys" txdiag -y fpga
expect "--json" txdiag info --js
expect "no" txsim --ready n
expect "status standby" txsim --fault-word 1 -- txdiag st
exit $failed
