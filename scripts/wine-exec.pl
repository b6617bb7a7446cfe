#!/usr/bin/perl
# Runs a Wine program for the scripts and the tests: starts it where Wine can always place
# what Windows expects at fixed addresses, tells how it ended, which a shell cannot (137 is
# an exit code as much as the signal 9), and keeps the process id of the program, and of
# every process it leaves behind, taken until its wineserver has stopped signalling it.
#
# Debian's Wine has no preloader, the part of Wine that reserves Windows' fixed addresses
# before anything else is mapped. The kernel starts wine64's heap (brk) at a random page up
# to 1 GiB above the loader at 0x7d000000, and about once in 8,000 starts the heap covers
# 0x7ffe0000, where Wine must map the shared user data: the program then ends with exit
# code 1 before it runs ("err:virtual:virtual_alloc_first_teb wine: failed to map the
# shared user data: c0000018"). Without address randomization (a personality its children
# inherit) the heap starts right after the loader, 47 MiB below that page.
#
# When a Wine process ends, its wineserver polls its process id with kill(id, 0) for about
# half a second (1/64 s, doubled each time) and then sends the id SIGKILL, whoever holds it
# by then. A reaped process frees its id, and where ids come round again quickly
# (kernel.pid_max 32768 on a busy machine) another program can be given it and be killed.
# A zombie keeps its id, so every Wine process ended here stays a zombie for a few seconds
# before it is reaped: the server's SIGKILL then finds the zombie, and nobody else.
#
# Usage: wine-exec.pl <status-file> <command> [arguments]
# Writes "exited with code N" or "was ended by signal N (SIGNAME)" to <status-file> and
# exits with N, or 128 + the signal, as soon as the program has ended.
use strict;
use warnings;
use Config;
use POSIX ();

# Seconds a zombie is kept (the server stops after 0.48 s of its own timers); the scripts'
# own check keeps them longer, to look at them.
my $hold = $ENV{WINE_EXEC_HOLD} // 3;
# x86-64 Linux, the only host the scripts run on.
my ($SYS_personality, $SYS_prctl, $SYS_waitid) = (135, 157, 247);
my ($ADDR_NO_RANDOMIZE, $PR_SET_CHILD_SUBREAPER) = (0x0040000, 36);
my ($P_ALL, $P_PID, $WEXITED, $WNOWAIT, $CLD_EXITED) = (0, 1, 4, 0x01000000, 1);

my $file = shift @ARGV;
pipe(my $from_holder, my $to_caller) or die "wine-exec: pipe: $!\n";
my $holder = fork // die "wine-exec: fork: $!\n";
if ($holder) {
    # The caller: waits for the program's end only, not for the holder.
    close $to_caller;
    my $status = <$from_holder> // "ended, but how is not known (its holder died)\n";
    open(my $out, '>', $file) or die "wine-exec: $file: $!\n";
    print $out $status;
    close $out;
    exit($status =~ /signal (\d+)/ ? 128 + $1 : $status =~ /code (\d+)/ ? $1 : 255);
}

# The holder: the program's parent, and the subreaper of the processes it starts (a Windows
# program's children are orphaned at once by Wine's double fork), which come here instead
# of to init.
close $from_holder;
syscall($SYS_prctl, $PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
my $program = fork // die "wine-exec: fork: $!\n";
if (!$program) {
    my $persona = syscall($SYS_personality, 0xffffffff);
    syscall($SYS_personality, $persona | $ADDR_NO_RANDOMIZE) if $persona != -1;
    no warnings 'exec';
    exec { $ARGV[0] } @ARGV or print STDERR "wine-exec: $ARGV[0]: $!\n";
    POSIX::_exit(127);
}

# siginfo_t of a child that has ended, left a zombie: (si_code, si_status).
sub wait_ended {
    my ($idtype, $id) = @_;
    my $info = "\0" x 128;
    return () if syscall($SYS_waitid, $idtype, $id, $info, $WEXITED | $WNOWAIT, 0) == -1;
    my (undef, undef, $code, undef, undef, undef, $status) = unpack('i7', $info);
    return ($code, $status);
}

my ($code, $status) = wait_ended($P_PID, $program);
my @names = split ' ', $Config{sig_name};
print $to_caller !defined $code ? "ended, but how is not known (waitid: $!)\n"
    : $code == $CLD_EXITED ? "exited with code $status\n"
    : "was ended by signal $status (SIG$names[$status])\n";
close $to_caller;

# From here on nobody waits for the holder: it lets go of the caller's files and pipes.
open(STDIN, '<', '/dev/null');
open(STDOUT, '>', '/dev/null');
open(STDERR, '>', '/dev/null');
POSIX::close($_) for 3 .. 1023;

sub children {
    open(my $list, '<', "/proc/$$/task/$$/children") or return ();
    return split ' ', (<$list> // '');
}
sub is_zombie {
    open(my $stat, '<', "/proc/$_[0]/stat") or return 0;
    return (<$stat> // '') =~ /\) Z /;
}

# Each zombie is reaped $hold seconds after it was first seen; ends with the last child.
my %due;
while (my @children = children()) {
    my $now = time;
    $due{$_} //= $now + $hold for grep { is_zombie($_) } @children;
    for my $pid (grep { $due{$_} <= $now } keys %due) {
        waitpid($pid, 0);
        delete $due{$pid};
    }
    if (%due) {
        select(undef, undef, undef, 0.5);
    } else {
        wait_ended($P_ALL, 0);  # until one ends
    }
}
