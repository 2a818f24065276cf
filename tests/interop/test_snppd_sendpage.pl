#!/usr/bin/perl
# dazoroz-snppd with a third-party client that speaks SNPP level 2, sendpage (hylafax-client): it
# logs in as the user who runs it, sets a service level (and a hold time and subject when asked),
# and sends a text from standard input with DATA. With --login the login ID must be that user's.
#   test_snppd_sendpage.pl DAZOROZ_SNPPD
use strict;
use warnings;

use Interop;
use POSIX qw(strftime);

my ($snppd) = @ARGV;
my $sendpage = '/usr/bin/sendpage';
need_file($sendpage, 'hylafax-client');
my $user = getpwuid($<) // skip_test("the user id $< has no name");

my $dir = scratch_dir();
open(my $lines, '>', "$dir/message.txt") or die "message.txt: $!";
print $lines "Disk full\non host a\n\nsee the log\n";
close($lines);

# Each case: sendpage's options, its exit code, and the pages the server must print (the hold
# time, minutes from now, shown as YYMMDDHHMM).
my @pages = (
    {name => 'one pager', args => ['-p', '5550001', 'Call home'],
     pages => "page 5550001: Call home\n"},
    {name => 'two pagers, hold time, subject, level',
     args => ['-a', 'now + 30 minutes', '-s', 'Disk', '-l', '0', '-p', '5550002', '-p', '5550003',
              'Room too hot'],
     pages => qq(page 5550002 (hold until YYMMDDHHMM, subject "Disk"): Room too hot\n)
       . qq(page 5550003 (hold until YYMMDDHHMM, subject "Disk"): Room too hot\n)},
    {name => 'lines from standard input, with DATA', args => ['-p', '5550004'],
     stdin => "$dir/message.txt",
     pages => "page 5550004: Disk full\\x0aon host a\\x0a\\x0asee the log\n"},
);
my @setups = (
    {name => 'open', server => [], cases => \@pages},
    {name => 'login', server => ['--login', $user], cases => \@pages},
    # A wrong login ends sendpage before any page (it asks for a password, and has none).
    {name => 'login of another user', server => ['--login', "not-$user"],
     cases => [{name => 'refused', args => ['-p', '5550005', 'x'], code => 255, pages => ''}]},
);

for my $setup (@setups) {
    my $server = start_server($snppd, '--address', '127.0.0.1', '--port', '0',
                              @{$setup->{server}});
    my $listening = server_line($server, 'err', qr/listening on 127\.0\.0\.1:\d+$/);
    if (!defined $listening) {
        print "dazoroz-snppd did not start:\n", map { "  $_\n" } @{$server->{err}{lines}};
        exit 1;
    }
    my ($port) = $listening =~ /:(\d+)$/;
    for my $case (@{$setup->{cases}}) {
        my $name = "$setup->{name}: $case->{name}";
        # No -v: sendpage 6.0.7 crashes tracing its dialogue. HOME keeps a user's ~/.hylarc out.
        my $run = run_program([$sendpage, '-h', "127.0.0.1:$port", @{$case->{args}}],
                              dir => "$dir", stdin => $case->{stdin},
                              env => {HOME => "$dir", SNPPSERVER => undef});
        check("$name: exit code", $run->{code}, $case->{code} // 0)
          or print $run->{out}, $run->{err};
        # Printed before SEND's reply, so before sendpage ends.
        my @got = map { server_line($server, 'out', qr//) // '(nothing)' }
          split(/^/m, $case->{pages});
        my $printed = join('', map { "$_\n" } @got);
        # The hold time is UTC, about 30 minutes from now.
        my ($early, $late) = map { strftime('%y%m%d%H%M', gmtime(time + $_ * 60)) } (25, 35);
        while ($printed =~ s/hold until (\d{10})/hold until YYMMDDHHMM/) {
            check("$name: hold time", $1 ge $early && $1 le $late ? 'yes' : "no: $1", 'yes');
        }
        check("$name: pages printed", $printed, $case->{pages});
    }
    stop_server($server);
    # Nothing else was printed (the refused login's page above all).
    check("$setup->{name}: no other page", server_line($server, 'out', qr//), '(nothing)');
}
done_testing();
