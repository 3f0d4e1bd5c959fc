#!/usr/bin/env bash
# The main job. Until the service program exists this only says so.
set -euo pipefail
build_dir=${1:-build/dev}
if [ ! -x "$build_dir/src/svc/PelorixSvc" ]; then
    echo "Der Dienst PelorixSvc ist noch nicht gebaut."
    exit 0
fi
exec "$build_dir/src/svc/PelorixSvc" -foreground
