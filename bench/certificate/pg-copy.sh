#!/usr/bin/env bash
# pg-copy.sh BUILD_DIR [benchmark options...]: runs bench_safekeep with a
# PostgreSQL 15 started for the run, as pg-verify.sh does, the copy going
# into its empty database "copy"; the server and its folder go at the end.
# Example: bench/certificate/pg-copy.sh build
set -euo pipefail
build=$(cd "$1" && pwd); shift
bin=/usr/lib/postgresql/15/bin
dir=$(mktemp -d /tmp/sf6pg-bench-XXXXXX)
chmod 777 "$dir"
port=$((20000 + RANDOM % 20000))
as_server() { if [[ $(id -u) == 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi; }
me=$(id -un)
as_server "$bin/initdb" -D "$dir/data" -U "$me" --auth=trust -E UTF8 --locale=C.UTF-8 >/dev/null
as_server "$bin/pg_ctl" -D "$dir/data" -o "-k $dir -c listen_addresses= -p $port -c fsync=off" -l "$dir/log" -w start >/dev/null
trap 'as_server "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null; rm -rf "$dir"' EXIT
psql -q -h "$dir" -p "$port" -d postgres -c "CREATE DATABASE copy"
SF6_BENCH_COPY_LOCATION="postgresql:///%1?host=$dir&port=$port" "$build/bench/certificate/bench_safekeep" "$@"
