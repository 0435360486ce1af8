#!/bin/sh
# The alert rules in dist/ pass promtool's check and their unit tests (rules_test.yml).
set -eu
cd "$(dirname "$0")"
promtool check rules ../../dist/vestrel-rules.yml
promtool test rules rules_test.yml
