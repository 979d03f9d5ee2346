# Functions for the stand-in agent's service registration in one Wine machine; sourced after
# wine-env.sh by the scripts that install, register or time the agent.

# The service's state as `sc query` reports it (RUNNING, STOP_PENDING, STOPPED, ...), or nothing when
# the service is not registered.
agent_state()
{
    timeout 60 "$WINELOADER" sc query zirodava </dev/null 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p' || true
}

# The command line the service is registered with, or nothing.
agent_command_line()
{
    timeout 60 "$WINELOADER" reg query 'HKLM\System\CurrentControlSet\Services\zirodava' /v ImagePath \
        </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^ *ImagePath *REG_[A-Z_]* *//p' || true
}

# Stops the agent and waits until it has stopped: a stop delay keeps it STOP_PENDING for a while.
stop_agent()
{
    timeout 60 "$WINELOADER" sc stop zirodava </dev/null >/dev/null 2>&1
    for _ in $(seq 1 300); do
        case "$(agent_state)" in STOPPED | "") return 0 ;; esac
        sleep 0.2
    done
    echo "the agent service did not stop" >&2
    return 1
}

# Registers the service anew (start on demand) with the command line given. The old registration must
# be gone first: while its process still runs it is only marked for deletion, and a new one would be
# refused.
register_agent()
{
    stop_agent || return 1
    timeout 60 "$WINELOADER" sc delete zirodava </dev/null >/dev/null 2>&1
    for _ in $(seq 1 300); do
        [ -z "$(agent_state)" ] && break
        sleep 0.2
    done
    timeout 60 "$WINELOADER" sc create zirodava binPath= "$1" start= demand </dev/null >/dev/null 2>&1
}
