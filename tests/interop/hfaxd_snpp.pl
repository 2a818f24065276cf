#!/usr/bin/perl
# HylaFAX's hfaxd serving SNPP on 127.0.0.1 only, with a spool of its own:
#   unshare -m --propagation private perl hfaxd_snpp.pl SPOOL [--queue]
# Run as root in a private mount namespace: hfaxd reads /etc/hylafax/hfaxd.conf by that path, so
# SPOOL/etc is mounted there for this process and its children only, and the host's HylaFAX files
# stay untouched. SPOOL/etc holds hfaxd.conf, hosts.hfaxd and pagermap; this script adds the
# spool's other folders. Every connection gets a fresh "hfaxd -q SPOOL -S" (SNPP on its standard
# input and output, as inetd runs it). Prints "port N" once it listens; ends on SIGTERM or when
# its standard input closes, and stops its hfaxd processes by their pid.
#
# With --queue, the queuer faxq runs on the spool as well, and each client reaches hfaxd through
# a relay that adds "SITE JQUEUE YES" before each PAGE (its reply dropped): SEND then queues the
# page and answers at once, and the page's text lands in SPOOL/docq.
use strict;
use warnings;

use IO::Select;
use IO::Socket::INET;
use POSIX qw(WNOHANG);

my ($spool, $queue) = @ARGV;
die "usage: $0 SPOOL [--queue]\n" if !$spool || !-d "$spool/etc";
$queue = ($queue // '') eq '--queue';
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
# faxq wants the installation's setup.cache, from the /etc/hylafax that is about to be covered.
system('cp', '/etc/hylafax/setup.cache', "$spool/etc/") == 0 or die "no setup.cache\n" if $queue;
system('mount', '--bind', "$spool/etc", '/etc/hylafax') == 0 or die "cannot mount $spool/etc\n";

sub listen_here {
    return IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Listen => 8)
      || die "cannot listen: $@\n";
}
my $listener = listen_here();
# With --queue, clients come to the relay's port and hfaxd's is for the relays only.
my $relay = $queue ? listen_here() : undef;
print "port ", ($relay // $listener)->sockport, "\n";

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

if ($queue) {
    my $pid = fork() // die "fork: $!\n";
    if ($pid == 0) {
        open(STDIN, '<', '/dev/null') or POSIX::_exit(127);
        exec('/usr/sbin/faxq', '-D', '-q', $spool) or POSIX::_exit(127);
    }
    $hfaxd{$pid} = 1;
    my $until = time + 30; # it makes the FIFO hfaxd's SEND writes to
    select(undef, undef, undef, 0.02) while !-p "$spool/FIFO" && time < $until;
}

# Passes bytes both ways between a client and hfaxd, adding SITE JQUEUE YES before each PAGE
# (hfaxd forgets it at every SEND) and dropping its reply, which comes before PAGE's. Ends with
# either side.
sub relay {
    my ($client) = @_;
    my $server = IO::Socket::INET->new(PeerAddr => '127.0.0.1', PeerPort => $listener->sockport)
      or POSIX::_exit(1);
    my %buffer = (client => '', server => '');
    my $drop = 0; # replies still to drop
    my $select = IO::Select->new($client, $server);
    while (my @ready = $select->can_read(600)) {
        for my $from (@ready) {
            my $side = $from == $client ? 'client' : 'server';
            sysread($from, my $bytes, 65536) or POSIX::_exit(0);
            $buffer{$side} .= $bytes;
            while ($buffer{$side} =~ s/^(.*?\n)//s) {
                my $line = $1;
                if ($side eq 'client') {
                    print $server "SITE JQUEUE YES\r\n" and ++$drop if $line =~ /^PAGE\b/i;
                    print $server $line;
                } elsif (!$drop) {
                    print $client $line;
                } elsif ($line =~ /^\d{3}(?!-)/) {
                    --$drop; # the last line of the dropped reply
                }
            }
        }
    }
    POSIX::_exit(0);
}

# Bounded: a listener nobody stops ends after ten minutes.
my $select = IO::Select->new($listener, \*STDIN, $relay // ());
my $deadline = time + 600;
while (time < $deadline) {
    for my $ready ($select->can_read($deadline - time)) {
        stop() if $ready == \*STDIN;
        my $from_relay = $relay && $ready == $relay;
        my $client = $ready->accept() or next;
        my $pid = fork() // die "fork: $!\n";
        if ($pid == 0 && $from_relay) {
            $client->autoflush(1);
            relay($client);
        }
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
