#!/usr/bin/env bash
# Builds the release preset and runs the service benchmarks: each library path
# against its hand-made baseline in the same run, printed as ratios, then the
# peak memory figures. Not part of CI; expect a few minutes on 2 cores.
# Usage: scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --parallel "$(nproc)" --target services_bench services_bench_memory
build/release/bench/services/bin/services_bench
build/release/bench/services/bin/services_bench_memory

# Transfer engine: bench/engine against nginx over HTTPS, with a CA made for
# this run; the benchmark serves itself (cpp-httplib) only where nginx is
# missing. Runs in a subshell so that its trap stops nginx on every way out.
engine_bench() (
    local run=build/release/bench/engine-run nginx_bin nginx_pid="" port="" version
    cmake --build --preset release --parallel "$(nproc)" --target engine

    nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
    if [[ ! -x $nginx_bin ]]; then
        install_nginx || echo "engine benchmark: nginx-light could not be installed" >&2
    fi

    stop_nginx() {
        if [[ -n $nginx_pid ]]; then
            kill -TERM "$nginx_pid" 2>/dev/null || true
            wait "$nginx_pid" 2>/dev/null || true
            nginx_pid=""
        fi
    }
    trap stop_nginx EXIT

    rm -rf "$run"
    mkdir -p "$run"/temp "$run"/www
    run=$(cd "$run" && pwd)
    bash tests/support/make-test-certs.sh "$run/certs"
    truncate -s 1G "$run/www/large"

    if [[ ! -x $nginx_bin ]]; then
        echo "== engine benchmark: nginx missing, cpp-httplib fallback server =="
        build/release/bench/engine --ca "$run/certs/ca.pem" \
            --cert "$run/certs/server.pem" --key "$run/certs/server.key"
        return
    fi
    # A port that looks free can still be taken before nginx binds it: try a
    # few until nginx stays up and accepts.
    for _ in 1 2 3 4 5; do
        port=$(free_port)
        start_nginx "$nginx_bin" "$run" "$port" && break
        port=""
    done
    if [[ -z $port ]]; then
        echo "engine benchmark: nginx did not start; its log:" >&2
        tail -n 20 "$run/error.log" >&2 || true
        return 1
    fi
    version=$("$nginx_bin" -v 2>&1 | sed 's/^nginx version: //')
    echo "== engine benchmark: $version on port $port =="
    build/release/bench/engine --ca "$run/certs/ca.pem" --port "$port" --server "$version, 1 worker"
)

# The package's own service would start on port 80 at install; the benchmark
# runs its own nginx, so the service is kept from starting at all.
install_nginx() {
    local sudo="" policy=/usr/sbin/policy-rc.d made="" status=0
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    if [[ ! -e $policy ]]; then
        printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
        $sudo chmod +x "$policy"
        made=1
    fi
    $sudo apt-get update || status=$?
    if [[ $status -eq 0 ]]; then
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
            nginx-light || status=$?
    fi
    [[ -n $made ]] && $sudo rm -f "$policy"
    return "$status"
}

free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        # Nothing answers there: free, as far as this side can tell.
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return
        fi
    done
}

# Sets nginx_pid; true once nginx has bound the port (it writes its pid file
# only after that) and accepts connections there.
start_nginx() {
    local nginx_bin=$1 run=$2 port=$3 user=""
    [[ $(id -u) -eq 0 ]] && user="user root;"
    sed -e "s|@PREFIX@|$run|g" -e "s|@PORT@|$port|g" -e "s|@USER@|$user|g" \
        -e "s|@CERT@|$run/certs/server.pem|g" -e "s|@KEY@|$run/certs/server.key|g" \
        bench/nginx.conf.in >"$run/nginx.conf"
    "$nginx_bin" -p "$run" -c "$run/nginx.conf" -e "$run/error.log" &
    nginx_pid=$!
    for _ in $(seq 100); do
        if [[ $(cat "$run/nginx.pid" 2>/dev/null) == "$nginx_pid" ]] &&
            (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            return 0
        fi
        if ! kill -0 "$nginx_pid" 2>/dev/null; then
            wait "$nginx_pid" 2>/dev/null || true
            nginx_pid=""
            return 1
        fi
        sleep 0.1
    done
    stop_nginx
    return 1
}

engine_bench
