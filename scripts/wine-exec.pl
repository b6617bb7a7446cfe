#!/usr/bin/perl
# Runs a Wine program for the scripts and the tests: starts it where Wine can always place
# what Windows expects at fixed addresses, and tells how it ended, which a shell cannot
# (137 is an exit code as much as the signal 9).
#
# Debian's Wine has no preloader, the part of Wine that reserves Windows' fixed addresses
# before anything else is mapped. The kernel starts wine64's heap (brk) at a random page up
# to 1 GiB above the loader at 0x7d000000, and about once in 8,000 starts the heap covers
# 0x7ffe0000, where Wine must map the shared user data: the program then ends with exit
# code 1 before it runs ("err:virtual:virtual_alloc_first_teb wine: failed to map the
# shared user data: c0000018"). Without address randomization (a personality its children
# inherit) the heap starts right after the loader, 47 MiB below that page.
#
# Usage: wine-exec.pl <status-file> <command> [arguments]
# Writes "exited with code N" or "was ended by signal N (SIGNAME)" to <status-file> and
# exits with N, or 128 + the signal.
use strict;
use warnings;
use Config;
use POSIX ();

# x86-64 Linux, the only host the scripts run on.
my ($SYS_personality, $ADDR_NO_RANDOMIZE) = (135, 0x0040000);

my $file = shift @ARGV;
my $program = fork // die "wine-exec: fork: $!\n";
if (!$program) {
    my $persona = syscall($SYS_personality, 0xffffffff);
    syscall($SYS_personality, $persona | $ADDR_NO_RANDOMIZE) if $persona != -1;
    no warnings 'exec';
    exec { $ARGV[0] } @ARGV or print STDERR "wine-exec: $ARGV[0]: $!\n";
    POSIX::_exit(127);
}
waitpid($program, 0);
my ($signal, $code, @names) = ($? & 127, $? >> 8, split(' ', $Config{sig_name}));
open(my $out, '>', $file) or die "wine-exec: $file: $!\n";
print $out $signal ? "was ended by signal $signal (SIG$names[$signal])\n" : "exited with code $code\n";
close $out;
exit($signal ? 128 + $signal : $code);
