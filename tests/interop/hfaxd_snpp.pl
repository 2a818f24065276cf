#!/usr/bin/perl
# HylaFAX's hfaxd serving SNPP on 127.0.0.1 only, with a spool of its own:
#   unshare -m --propagation private perl hfaxd_snpp.pl SPOOL
# Run as root in a private mount namespace: hfaxd reads /etc/hylafax/hfaxd.conf by that path, so
# SPOOL/etc is mounted there for this process and its children only, and the host's HylaFAX files
# stay untouched. SPOOL/etc holds hfaxd.conf, hosts.hfaxd and pagermap; this script adds the
# spool's other folders. Every connection gets a fresh "hfaxd -q SPOOL -S" (SNPP on its standard
# input and output, as inetd runs it). Prints "port N" once it listens; ends on SIGTERM or when
# its standard input closes, and stops its hfaxd processes by their pid.
use strict;
use warnings;

use IO::Select;
use IO::Socket::INET;
use POSIX qw(WNOHANG);

my ($spool) = @ARGV;
die "usage: $0 SPOOL\n" if !$spool || !-d "$spool/etc";
$| = 1;

# hfaxd works as uucp in its spool.
my (undef, undef, $uid, $gid) = getpwnam('uucp') or die "no user uucp\n";
for my $folder (qw(archive client config dev docq doneq info log pollq recvq sendq status tmp)) {
    mkdir("$spool/$folder") or die "mkdir $spool/$folder: $!\n";
    chown($uid, $gid, "$spool/$folder") or die "chown $spool/$folder: $!\n";
}
chmod(01777, "$spool/tmp");
chown($uid, $gid, $spool, "$spool/etc/hosts.hfaxd") or die "chown: $!\n";
chmod(0600, "$spool/etc/hosts.hfaxd");
system('mount', '--bind', "$spool/etc", '/etc/hylafax') == 0 or die "cannot mount $spool/etc\n";

my $listener = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Listen => 8)
  or die "cannot listen: $@\n";
print "port ", $listener->sockport, "\n";

my %hfaxd;
sub stop {
    kill('TERM', keys %hfaxd);
    my $until = time + 10;
    while (%hfaxd && time < $until) {
        my $pid = waitpid(-1, WNOHANG);
        $pid > 0 ? delete $hfaxd{$pid} : select(undef, undef, undef, 0.02);
    }
    kill('KILL', keys %hfaxd);
    exit 0;
}
$SIG{TERM} = \&stop;

# Bounded: a listener nobody stops ends after ten minutes.
my $select = IO::Select->new($listener, \*STDIN);
my $deadline = time + 600;
while (time < $deadline) {
    for my $ready ($select->can_read($deadline - time)) {
        stop() if $ready == \*STDIN;
        my $client = $listener->accept() or next;
        my $pid = fork() // die "fork: $!\n";
        if ($pid == 0) {
            open(STDIN, '<&', $client) && open(STDOUT, '>&', $client) or POSIX::_exit(127);
            exec('/usr/sbin/hfaxd', '-q', $spool, '-S') or POSIX::_exit(127);
        }
        $hfaxd{$pid} = 1;
        close($client);
    }
    while ((my $pid = waitpid(-1, WNOHANG)) > 0) {
        delete $hfaxd{$pid};
    }
}
stop();
