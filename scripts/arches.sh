# Sourced by the other scripts: which architectures of the build this machine can run.
#
# i686_reason    empty when this machine runs 32-bit programs, else why it cannot
# Found out by starting Wine's 32-bit loader, itself a 32-bit program: installed packages say nothing
# about a kernel whose 32-bit support is switched off.
i686_reason=""
if [ ! -x /usr/lib/wine/wine ]; then
    i686_reason="Wine's 32-bit loader /usr/lib/wine/wine is not installed"
# Started by bash itself: a program that the kernel refuses is then reported as such, where an
# execvp() would hand it to /bin/sh as a script.
elif ! probe="$(timeout 60 bash -c '"$0" --version' /usr/lib/wine/wine 2>&1 </dev/null)"; then
    case "$probe" in
        *"Exec format error"*)
            i686_reason="this kernel does not run 32-bit programs (starting Wine's 32-bit loader gives: Exec format error)" ;;
        *) i686_reason="starting Wine's 32-bit loader fails: $(tr '\n' ' ' <<<"${probe:-no message}" | sed 's/ *$//')" ;;
    esac
fi
