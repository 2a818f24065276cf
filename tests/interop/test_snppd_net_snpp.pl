#!/usr/bin/perl
# dazoroz-snppd with a third-party client, Net::SNPP (libnet-snpp-perl): pages one and several
# recipients, reads the help text, and logs in where the server asks for it.
#   test_snppd_net_snpp.pl DAZOROZ_SNPPD
use strict;
use warnings;

use Interop;

my ($snppd) = @ARGV;
need_module('Net::SNPP', 'libnet-snpp-perl');

# Each step: what the client does, true when the server answered as it should, and the pages the
# server must print for it.
my @steps = (
    {name => 'one pager', call => sub { $_[0]->send(Pager => '5550001', Message => 'Call home') },
     pages => "page 5550001: Call home\n"},
    {name => 'two pagers, one message',
     call => sub { $_[0]->send(Pager => [qw(5550002 5550003)], Message => 'Room  too hot') },
     pages => "page 5550002: Room  too hot\npage 5550003: Room  too hot\n"},
    {name => 'help text', call => sub { ($_[0]->help() // '') =~ /PAGEr <Pager ID>/ }},
);
# Each server setup with the client's sessions, one connection each.
my @setups = (
    {server => [], sessions => [{name => 'open', steps => \@steps}]},
    {server => ['--login', 'pat:s3cret'],
     sessions => [
         {name => 'login required, no login',
          steps => [{name => 'page refused with 530',
                     call => sub { !$_[0]->send(Pager => '5550001', Message => 'x')
                                     && $_[0]->code == 530 }}]},
         {name => 'login required, wrong password',
          steps => [{name => 'login refused', call => sub { !$_[0]->login('pat', 'secret') }}]},
         {name => 'login required, logged in',
          steps => [{name => 'login', call => sub { $_[0]->login('pat', 's3cret') }}, @steps]},
     ]},
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
    for my $session (@{$setup->{sessions}}) {
        my $client = Net::SNPP->new('127.0.0.1', Port => $port, Timeout => $Interop::WAIT);
        next if !check("$session->{name}: connected", $client ? 'yes' : 'no', 'yes');
        for my $step (@{$session->{steps}}) {
            my $name = "$session->{name}: $step->{name}";
            check($name, $step->{call}->($client) ? 'yes' : 'no: ' . $client->message, 'yes');
            next if !$step->{pages};
            my @got = map { server_line($server, 'out', qr//) // '(nothing)' }
              split(/^/m, $step->{pages});
            check("$name: pages printed", join('', map { "$_\n" } @got), $step->{pages});
        }
        $client->quit();
    }
    stop_server($server);
}
done_testing();
