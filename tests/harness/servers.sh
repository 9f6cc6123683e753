#!/usr/bin/env bash
# Starts and stops the mail servers the tests talk to, on free ports of
# 127.0.0.1, with every file in one throw-away folder:
#   Dovecot  POP3 (APOP, STLS) and POP3S, user "taro" / "secret" and
#            "hanako" / "himitsu", maildirs under DIR/mail/USER;
#   aiosmtpd SMTP with STARTTLS and AUTH (user taro / secret) and SMTPS,
#            every accepted message written to DIR/spool; a second SMTP port
#            (LUMORA_SMTP_SMALL_PORT) keeps a SIZE limit of 256 KB;
#   Postfix  (with --postfix, as root) a private instance with its own configuration
#            and queue under DIR/postfix, on loopback only: PIPELINING, SIZE
#            (4 MB), STARTTLS, AUTH PLAIN/LOGIN/CRAM-MD5 through the Dovecot
#            above; what it accepts it relays to the aiosmtpd spool.
# The servers' certificate is signed by a CA made here (DIR/tls/ca.crt);
# DIR/tls/other-ca.crt is a CA that signed nothing, to test refusal.
#
#   servers.sh start DIR [--plain] [--postfix]
#                                    start; --plain: no TLS at all
#   servers.sh stop DIR              stop, by the PIDs recorded at start
#
# start writes DIR/servers.env, to be sourced (LUMORA_POP3_PORT,
# LUMORA_POP3S_PORT, LUMORA_SMTP_PORT, LUMORA_SMTPS_PORT, LUMORA_TEST_CAFILE,
# LUMORA_TEST_OTHER_CAFILE, LUMORA_MAILDIR, LUMORA_SMTP_SPOOL, ...).
set -euo pipefail

python=/usr/bin/python3   # Debian's, which sees python3-aiosmtpd
here=$(cd "$(dirname "$0")" && pwd)

die() { echo "servers.sh: $*" >&2; exit 1; }

free_ports() {
    "$python" - "$1" <<'PY'
import socket, sys
socks = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks))
PY
}

wait_port() {
    local port=$1 what=$2
    for _ in $(seq 1 150); do
        if "$python" -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 0.2).close()" 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    die "$what did not start listening on port $port (see the logs in $dir)"
}

alive() {
    local pid=$1
    kill -0 "$pid" 2>/dev/null || return 1
    # A zombie still answers kill -0.
    [[ "$(ps -o stat= -p "$pid" 2>/dev/null)" != Z* ]]
}

make_tls() {
    local tls=$dir/tls
    mkdir -p "$tls"
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Lumora Test CA" \
        -keyout "$tls/ca.key" -out "$tls/ca.crt" >/dev/null 2>&1
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Lumora Other CA" \
        -keyout "$tls/other-ca.key" -out "$tls/other-ca.crt" >/dev/null 2>&1
    openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
        -keyout "$tls/server.key" -out "$tls/server.csr" >/dev/null 2>&1
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n' > "$tls/ext.cnf"
    openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" \
        -CAcreateserial -days 30 -extfile "$tls/ext.cnf" -out "$tls/server.crt" >/dev/null 2>&1
    chmod 0644 "$tls"/*.crt "$tls/server.key"
}

# The last lines of each server's log, for a start that failed.
log_tails() {
    local log
    for log in "$dir/dovecot.out" "$dir/dovecot.log" "$dir/smtp.log" \
        "$dir/postfix/start.out" "$dir/postfix/postfix.log"; do
        [[ -s "$log" ]] || continue
        echo "--- ${log#"$dir"/} (last lines)"
        tail -n 8 "$log"
    done
}

# A port picked free may be taken by another process before a server binds
# it (the tests start servers side by side), and a loaded machine can be
# slow to bring one up: a failed start is stopped, cleared and tried again
# on new ports, and only the third failure is reported, with the logs.
start() {
    [[ -d "$dir" ]] || mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    local attempt
    for attempt in 1 2 3; do
        # A process of its own, so that a failing command ends the try as
        # set -e ends the script (a condition would switch set -e off).
        if bash "$here/servers.sh" start-once "$dir" "$@" 2>"$dir/start.err"; then
            rm -f "$dir/start.err"
            return 0
        fi
        echo "servers.sh: start $attempt of 3 failed: $(cat "$dir/start.err")" >&2
        log_tails >&2
        stop >/dev/null 2>&1 || true
        # The last try's files stay, so that the logs it names can be read.
        ((attempt < 3)) || break
        rm -rf "$dir"/{run,state,mail,home,spool,tls,postfix} "$dir"/{dovecot,smtp}.{conf,log,out} \
            "$dir/passwd" "$dir/servers.env"
    done
    rm -f "$dir/start.err" "$dir/servers.env"
    die "the servers did not start (the last try's logs are in $dir)"
}

start_once() {
    local tls_on=1 want_postfix=0
    for option in "$@"; do
        case "$option" in
            --plain) tls_on=0 ;;
            --postfix) want_postfix=1 ;;
            *) die "unknown option $option" ;;
        esac
    done
    command -v dovecot >/dev/null || die "dovecot is not installed (run scripts/setup.sh)"
    "$python" -c "import aiosmtpd" 2>/dev/null || die "python3-aiosmtpd is not installed"
    mkdir -p "$dir"/{run,state,mail,home,spool}

    local pop3 pop3s smtp smtps small postfix_port postfix_plain postfix_single
    read -r pop3 pop3s smtp smtps small postfix_port postfix_plain postfix_single \
        < <(free_ports 8)
    local with_postfix=0
    if ((want_postfix)); then
        [[ $(id -u) == 0 ]] || die "a private Postfix needs root"
        [[ -x /usr/lib/postfix/sbin/master ]] || die "postfix is not installed (run scripts/setup.sh)"
        with_postfix=1
    fi

    local mail_user mail_group uid gid login_settings=""
    if [[ $(id -u) == 0 ]]; then
        # Dovecot will not deliver mail as root.
        mail_user=nobody
        mail_group=$(id -gn nobody)
        chown -R nobody:"$mail_group" "$dir/mail" "$dir/home"
        chmod 0755 "$dir" "$dir/run" "$dir/state"
    else
        mail_user=$(id -un)
        mail_group=$(id -gn)
        login_settings="default_internal_user = $mail_user
default_internal_group = $mail_group
default_login_user = $mail_user
service pop3-login {
  chroot =
}
service auth-worker {
  user = $mail_user
}"
    fi
    uid=$(id -u "$mail_user")
    gid=$(getent group "$mail_group" | cut -d: -f3)

    local ssl_settings="ssl = no" pop3s_listener=""
    if ((tls_on)); then
        make_tls
        ssl_settings="ssl = yes
ssl_cert = <$dir/tls/server.crt
ssl_key = <$dir/tls/server.key"
        pop3s_listener="inet_listener pop3s {
    address = 127.0.0.1
    port = $pop3s
    ssl = yes
  }"
    fi

    printf 'taro:{PLAIN}secret\nhanako:{PLAIN}himitsu\n' > "$dir/passwd"
    chmod 0644 "$dir/passwd"
    cat > "$dir/dovecot.conf" <<CONF
base_dir = $dir/run
state_dir = $dir/state
instance_name = lumora-test-$pop3
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
protocols = pop3
listen = 127.0.0.1
$ssl_settings
disable_plaintext_auth = no
auth_mechanisms = plain login apop cram-md5
auth_failure_delay = 0 secs
mail_location = maildir:$dir/mail/%u
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = static
  args = uid=$uid gid=$gid home=$dir/home/%u
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $pop3
  }
  $pop3s_listener
}
service auth {
  unix_listener $dir/run/auth-postfix {
    mode = 0666
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
$login_settings
CONF

    for user in taro hanako; do
        mkdir -p "$dir/mail/$user"/{cur,new,tmp}
    done
    if [[ $(id -u) == 0 ]]; then
        chown -R nobody:"$mail_group" "$dir/mail" "$dir/home"
    fi

    setsid dovecot -F -c "$dir/dovecot.conf" >"$dir/dovecot.out" 2>&1 < /dev/null &
    echo $! > "$dir/dovecot.pid"

    local smtp_args=(--port "$smtp" --small-port "$small" --spool "$dir/spool" --user taro
                     --password secret)
    if ((tls_on)); then
        smtp_args+=(--smtps-port "$smtps" --cert "$dir/tls/server.crt" --key "$dir/tls/server.key")
    fi
    setsid "$python" "$here/smtp_server.py" "${smtp_args[@]}" >"$dir/smtp.log" 2>&1 < /dev/null &
    echo $! > "$dir/smtp.pid"

    if ((with_postfix)); then
        start_postfix "$postfix_port" "$postfix_plain" "$postfix_single" "$smtp" "$tls_on"
    fi

    wait_port "$pop3" dovecot
    wait_port "$smtp" "the SMTP server"
    wait_port "$small" "the SMTP server (SIZE limit)"
    if ((with_postfix)); then
        wait_port "$postfix_port" postfix
    fi
    if ((tls_on)); then
        wait_port "$pop3s" "dovecot (POP3S)"
        wait_port "$smtps" "the SMTP server (SMTPS)"
    fi
    # A port answering is not enough: another process may hold it while
    # the server that was to bind it has ended.
    alive "$(cat "$dir/dovecot.pid")" || die "dovecot ended after it started"
    alive "$(cat "$dir/smtp.pid")" || die "the SMTP server ended after it started"
    if ((with_postfix)); then
        postfix -c "$dir/postfix/conf" status >/dev/null 2>&1 || die "postfix ended after it started"
    fi

    cat > "$dir/servers.env" <<ENV
LUMORA_SERVERS_DIR=$dir
LUMORA_POP3_PORT=$pop3
LUMORA_SMTP_PORT=$smtp
LUMORA_SMTP_SMALL_PORT=$small
LUMORA_POP3S_PORT=$( ((tls_on)) && echo "$pop3s")
LUMORA_SMTPS_PORT=$( ((tls_on)) && echo "$smtps")
LUMORA_TEST_CAFILE=$( ((tls_on)) && echo "$dir/tls/ca.crt")
LUMORA_TEST_OTHER_CAFILE=$( ((tls_on)) && echo "$dir/tls/other-ca.crt")
LUMORA_MAILDIR=$dir/mail
LUMORA_MAIL_UID=$uid
LUMORA_MAIL_GID=$gid
LUMORA_SMTP_SPOOL=$dir/spool
LUMORA_POSTFIX_PORT=$( ((with_postfix)) && echo "$postfix_port")
LUMORA_POSTFIX_PLAIN_PORT=$( ((with_postfix)) && echo "$postfix_plain")
LUMORA_POSTFIX_SINGLE_PORT=$( ((with_postfix)) && echo "$postfix_single")
LUMORA_TEST_USER=taro
LUMORA_TEST_PASSWORD=secret
LUMORA_TEST_USER2=hanako
LUMORA_TEST_PASSWORD2=himitsu
ENV
    echo "servers started in $dir (POP3 $pop3, SMTP $smtp)"
}

# A private Postfix: configuration, queue and log under DIR/postfix,
# listening on 127.0.0.1:PORT only (and without STARTTLS, so that a test
# can read the commands, on PLAIN_PORT and, without PIPELINING either, on
# SINGLE_PORT), relaying everything to the spooling SMTP server on
# RELAY_PORT. It refuses the recipient refused@example.jp, and an address
# in UTF-8 unless the client asks for SMTPUTF8.
start_postfix() {
    local port=$1 plain=$2 single=$3 relay=$4 tls_on=$5 pf=$dir/postfix
    mkdir -p "$pf"/{conf,queue,data}
    chown postfix "$pf/data"
    local tls_settings="smtpd_tls_security_level = none"
    if ((tls_on)); then
        tls_settings="smtpd_tls_security_level = may
smtpd_tls_cert_file = $dir/tls/server.crt
smtpd_tls_key_file = $dir/tls/server.key"
    fi
    cat > "$pf/conf/main.cf" <<CONF
compatibility_level = 3.6
queue_directory = $pf/queue
data_directory = $pf/data
maillog_file = $pf/postfix.log
maillog_file_prefixes = $pf
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = loopback-only
inet_protocols = ipv4
myhostname = lumora-postfix.test
mydestination =
mynetworks = 127.0.0.0/8
relayhost = [127.0.0.1]:$relay
smtp_tls_security_level = none
alias_maps =
alias_database =
local_recipient_maps =
message_size_limit = 4194304
smtpd_error_sleep_time = 0s
strict_smtputf8 = yes
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = dovecot
smtpd_sasl_path = $dir/run/auth-postfix
smtpd_tls_auth_only = no
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject_unauth_destination
smtpd_recipient_restrictions = check_recipient_access inline:{ refused@example.jp=REJECT }
$tls_settings
CONF
    cat > "$pf/conf/master.cf" <<CONF
127.0.0.1:$port inet n - n - - smtpd
127.0.0.1:$plain inet n - n - - smtpd -o smtpd_tls_security_level=none
127.0.0.1:$single inet n - n - - smtpd -o smtpd_tls_security_level=none -o smtpd_discard_ehlo_keywords=pipelining
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
CONF
    postfix -c "$pf/conf" start >"$pf/start.out" 2>&1 ||
        die "postfix did not start (see $pf/start.out and $pf/postfix.log)"
}

stop() {
    local name pid
    if [[ -f "$dir/postfix/conf/main.cf" ]]; then
        postfix -c "$dir/postfix/conf" stop >/dev/null 2>&1 || true
        pid=$(cat "$dir/postfix/queue/pid/master.pid" 2>/dev/null | tr -d ' ' || true)
        for _ in $(seq 1 50); do
            [[ -n "$pid" ]] && alive "$pid" || break
            sleep 0.1
        done
        [[ -n "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
    fi
    for name in dovecot smtp; do
        [[ -f "$dir/$name.pid" ]] || continue
        pid=$(cat "$dir/$name.pid")
        # Each server leads its own process group; end the whole group.
        kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do
            alive "$pid" || break
            sleep 0.1
        done
        if alive "$pid"; then
            kill -KILL -- "-$pid" 2>/dev/null || true
        fi
        rm -f "$dir/$name.pid"
    done
    echo "servers stopped"
}

[[ $# -ge 2 ]] || die "usage: servers.sh start|stop DIR [--plain]"
command=$1
dir=$2
shift 2
case "$command" in
    start) start "$@" ;;
    start-once) start_once "$@" ;;
    stop) stop ;;
    *) die "unknown command $command" ;;
esac
