#!/usr/bin/perl
# dazoroz-send against HylaFAX's hfaxd in SNPP mode (hylafax-server), on 127.0.0.1 only, in a
# private mount namespace with a spool of its own, without the queuer (faxq): SEND can never
# succeed there, so the furthest a page gets is SEND's refusal.
#   test_hfaxd.pl DAZOROZ_SEND
use strict;
use warnings;

use File::Basename qw(dirname);
use Interop;

my ($send) = @ARGV;
need_root('hfaxd in a private mount namespace');
need_file('/usr/sbin/hfaxd', 'hylafax-server');
my $probe = run_program([qw(unshare -m --propagation private true)]);
skip_test("a private mount namespace is not allowed here: $probe->{err}") if $probe->{code} != 0;

# Anyone may log in from this machine without a password, except pat, whose password is s3cret.
my $spool = scratch_dir();
chmod(0755, "$spool");
my %etc = (
    'hosts.hfaxd' => '^pat@:21:' . crypt('s3cret', 'pw') . ":\nlocalhost:21::\n127.0.0.1:21::\n",
    'pagermap' => "^555[0-9]*\$ 5551234\n^999[0-9]*\$ reject\n",
    'hfaxd.conf' => "MaxMsgLength: 128\n",
);
mkdir("$spool/etc") or die "mkdir: $!";
for my $name (keys %etc) {
    open(my $file, '>', "$spool/etc/$name") or die "$name: $!";
    print $file $etc{$name};
    close($file) or die "$name: $!";
}
my $secrets = scratch_dir();
my $password_file = "$secrets/password";
open(my $file, '>', $password_file) or die "$password_file: $!";
print $file "s3cret\n";
close($file) or die "$password_file: $!";

my $connected = "status: CONNECTING...\nstatus: CONNECTED...\n";
my $fail = "log: FAIL, Send process terminated\nstatus: FAIL\n";
my $no_queuer = '550 Cannot register trigger to wait for job completion: Unable to open '
  . 'scheduler FIFO: No such file or directory.';
my @cases = (
    {name => 'no login', args => [qw(5550001 -m), 'Call the office'],
     statusbar => '530 Please login with LOGIN.'},
    {name => 'login, no password', args => [qw(--login tester 5550001 -m), 'Call the office'],
     statusbar => $no_queuer},
    {name => 'password from a file',
     args => ['--login', 'pat', '--password-file', $password_file, '5550001', '-m',
              'Call the office'],
     statusbar => $no_queuer},
    {name => 'wrong password from the environment', env => {DAZOROZ_PASSWORD => 'secret'},
     args => [qw(--login pat 5550001 -m), 'Call the office'],
     statusbar => '550 Login incorrect.'},
    {name => 'refused ID', args => [qw(--login tester 9990001 -m), 'Call the office'],
     statusbar => '550 Invalid pager ID 9990001.'},
    {name => 'message over MaxMsgLength', args => [qw(--login tester 5550001 -m), 'x' x 129],
     statusbar => '550 Error, message too long; no more than 128 characters accepted.'},
);

my $server = start_server(qw(unshare -m --propagation private perl),
                          dirname(__FILE__) . '/hfaxd_snpp.pl', "$spool");
my $listening = server_line($server, 'out', qr/^port \d+$/);
if (!defined $listening) {
    print "hfaxd did not start:\n", map { "  $_\n" } @{$server->{err}{lines}};
    exit 1;
}
my ($port) = $listening =~ /(\d+)/;
for my $case (@cases) {
    my $run = send_page($send, $port, $case->{env} // {}, @{$case->{args}});
    check("$case->{name}: output", $run->{out} . $run->{err},
          "$connected${fail}statusbar: $case->{statusbar}\n");
    check("$case->{name}: exit status", $run->{code}, 1);
}
stop_server($server);
done_testing();
