# shellcheck shell=bash
# Sourced by scripts/lib/command.sh and init.sh: Ctrl+C, Ctrl+\, SIGTERM and SIGHUP end the shell
# with 128 + the signal, as the signal itself would.
# shellcheck disable=SC2064 # the status is fixed now
for signal in INT:130 QUIT:131 TERM:143 HUP:129; do trap "exit ${signal#*:}" "${signal%:*}"; done
