#!/usr/bin/perl
# dazoroz-send against Net::SNPP::Server (libnet-snpp-perl): what the program shows, its exit
# status, and exactly which pages the server took.
#   test_net_snpp_server.pl DAZOROZ_SEND
use strict;
use warnings;

use File::Basename qw(dirname);
use IO::Socket::INET;
use Interop;

my ($send) = @ARGV;
need_module('Net::SNPP::Server', 'libnet-snpp-perl');

my $connected = "status: CONNECTING...\nstatus: CONNECTED...\n";
my $success = "status: SUCCESS\n";
my $fail = "log: FAIL, Send process terminated\nstatus: FAIL\n";
sub sending_to { join('', map { "log: Sending to: Pager, $_ ...\n" } @_) }
sub sent_ok { join('', map { sending_to($_) . "log: MESSAGE SENT OK\n" } @_) }
sub pages { my $text = pop; join('', map { "page $_: $text\n" } @_) }

my @three = qw(5550001 5550002 5550003);
# The server takes IDs of 7 or more digits; it collapses runs of blanks in a message.
my @cases = (
    {name => 'one recipient', args => ['5550001', '-m', "Server room  too \t hot"],
     out => $connected . $success, pages => pages('5550001', 'Server room too hot')},
    {name => 'three recipients', args => [@three, '-m', 'Call the office'],
     out => $connected . sent_ok(@three) . $success, pages => pages(@three, 'Call the office')},
    {name => 'ID refused at PAGE', args => [qw(5550001 1234 5550003 -m), 'Call the office'],
     out => $connected . sent_ok('5550001') . sending_to('1234') . $fail
       . "statusbar: 550 Error, Invalid Pager ID\n",
     code => 3, pages => pages('5550001', 'Call the office')},
    {name => 'SEND fails', server => ['--fail-send', '5550002'],
     args => [@three, '-m', 'Call the office'],
     out => $connected . sent_ok('5550001') . sending_to('5550002') . $fail
       . "statusbar: 554 Error, failed\n",
     code => 3, pages => pages('5550001', 'Call the office')},
    # The server's help text (214 lines) and its greeting arrive in one piece.
    # DATA keeps the line breaks (the module ends the text with one); a leading dot arrives single.
    {name => 'three lines with DATA',
     args => ['5550001', '--data', '-m', "Server room\n.too hot\nnow"],
     out => $connected . $success, pages => pages('5550001', 'Server room\n.too hot\nnow\n')},
    # The first server refuses the connection: the module's server, second, takes every page.
    {name => 'behind a refusing first server', refused_first => 1,
     args => [@three, '-m', 'Call the office'],
     out => "status: CONNECTING...\nstatusbar: Error: [10061] Connection refused\n"
       . "log: Trying 127.0.0.1:%PORT% ...\nstatus: CONNECTED...\n" . sent_ok(@three) . $success,
     pages => pages(@three, 'Call the office')},
    {name => 'greeting after the help text', server => ['--help-first'],
     args => [@three, '-m', 'Call the office'],
     out => $connected . sent_ok(@three) . $success, pages => pages(@three, 'Call the office')},
);

for my $case (@cases) {
    my $server = start_server('perl', dirname(__FILE__) . '/net_snpp_server.pl',
                              @{$case->{server} // []});
    my $listening = server_line($server, 'out', qr/^port \d+$/);
    if (!check("$case->{name}: server listens", defined $listening ? 'yes' : 'no', 'yes')) {
        print map { "  server: $_\n" } @{$server->{err}{lines}};
        stop_server($server);
        next;
    }
    my ($port) = $listening =~ /(\d+)/;
    my $run;
    if ($case->{refused_first}) {
        # Bound, never listening: a connect to it is refused.
        my $refusing = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0,
                                             Proto => 'tcp', ReuseAddr => 0)
          or die "no refusing port: $!";
        $run = send_page($send, $refusing->sockport, '--server', "127.0.0.1:$port",
                         @{$case->{args}});
    } else {
        $run = send_page($send, $port, @{$case->{args}});
    }
    check("$case->{name}: output", $run->{out} . $run->{err}, $case->{out} =~ s/%PORT%/$port/gr);
    check("$case->{name}: exit status", $run->{code}, $case->{code} // 0);
    my $pages = server_lines_until($server, qr/^end$/);
    check("$case->{name}: pages taken", $pages && join('', map { "$_\n" } @$pages),
          $case->{pages});
    stop_server($server);
}
done_testing();
